#include "camsim/sound.h"

#include <spandsp.h>

#include <cmath>
#include <stdexcept>
#include <vector>

namespace camsim {

int16_t SyntheticSound(uint64_t sample)
{
    constexpr double kPi = 3.14159265358979323846;
    constexpr double kPeriod = 2.0, kLow = 300.0, kHigh = 1500.0;
    const double t = double(sample % uint64_t(kPeriod * kAudioRate)) / kAudioRate;
    // Phase of a linear sweep, restarting at zero each period.
    const double phase = 2 * kPi * (kLow * t + (kHigh - kLow) * t * t / (2 * kPeriod));
    return int16_t(std::lround(8000.0 * std::sin(phase)));
}

SoundEncoder::SoundEncoder(int codeSize) : m_codeSize(codeSize)
{
    if (codeSize < 2 || codeSize > 5)
        throw std::invalid_argument("audio code size must be 2 to 5");
    m_state = g726_init(nullptr, codeSize * kAudioRate, G726_ENCODING_LINEAR, G726_PACKING_LEFT);
    if (!m_state)
        throw std::runtime_error("G.726 encoder setup failed");
}

SoundEncoder::~SoundEncoder()
{
    g726_free(m_state);
}

void SoundEncoder::Encode(int samples, std::string& out)
{
    if (samples <= 0 || samples % 8 != 0)
        throw std::invalid_argument("audio blocks are whole groups of 8 samples");
    std::vector<int16_t> pcm(static_cast<size_t>(samples));
    for (int i = 0; i < samples; ++i)
        pcm[size_t(i)] = SyntheticSound(m_samples + uint64_t(i));
    const size_t at = out.size();
    out.resize(at + size_t(samples * m_codeSize / 8));
    const int bytes =
        g726_encode(m_state, reinterpret_cast<uint8_t*>(out.data() + at), pcm.data(), samples);
    out.resize(at + size_t(bytes));
    m_samples += uint64_t(samples);
}

} // namespace camsim
