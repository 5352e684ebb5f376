#pragma once
// The simulated camera's sound, shared by its streams: a synthetic sweep and its G.726 codes.

#include <cstdint>
#include <string>

struct g726_state_s;

namespace camsim {

inline constexpr int kAudioRate = 8000;

// A 300 to 1500 Hz sweep repeating every two seconds.
int16_t SyntheticSound(uint64_t sample);

// G.726 codes of the synthetic sound from its first sample on (ITU-T G.726 through spandsp),
// packed most significant bit first, one encoder state across blocks.
class SoundEncoder
{
public:
    // Throws std::invalid_argument unless codeSize is 2 to 5, std::runtime_error if spandsp fails.
    explicit SoundEncoder(int codeSize);
    ~SoundEncoder();
    SoundEncoder(const SoundEncoder&) = delete;
    SoundEncoder& operator=(const SoundEncoder&) = delete;

    // Appends the codes of the next `samples` samples. A multiple of 8 fills whole bytes at
    // every code size, so no block leaves bits over for the next one; others are refused.
    void Encode(int samples, std::string& out);

    int CodeSize() const { return m_codeSize; }
    uint64_t SamplesDone() const { return m_samples; }

private:
    int m_codeSize;
    g726_state_s* m_state = nullptr;
    uint64_t m_samples = 0;
};

} // namespace camsim
