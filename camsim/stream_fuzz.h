#pragma once
// The hostile camera: seeded corruption of the simulator's own streams. It knows both formats,
// so besides flipping bytes it rewrites what a receiver trusts (packet and object sizes, offsets,
// counts and lengths, the picture sizes in the JPEG and MPEG-4 headers, Exif offsets) and it cuts,
// stalls and ends the connection. Most pictures still pass the container's checks, so the
// decoders get the damaged bytes. One seed gives one connection's corruption, byte for byte.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace camsim {

// The same sequence on every platform, which the standard distributions do not promise.
class FuzzRandom
{
public:
    explicit FuzzRandom(uint64_t seed) : m_state(seed) {}
    uint64_t Next();
    uint32_t Below(uint32_t n); // 0 to n − 1; n > 0
    bool Percent(uint32_t p) { return Below(100) < p; }
    template <class T> T Pick(std::initializer_list<T> values)
    {
        return values.begin()[Below(uint32_t(values.size()))];
    }

private:
    uint64_t m_state;
};

// How the bytes of one step leave the camera.
enum class StopKind
{
    Close,           // the connection drops
    End,             // the reply ends cleanly
    Stall,           // nothing for stallMs, then the rest
    StallWhileFault, // nothing until the endpoint's stall fault is lifted, then the rest
};

struct StreamStop
{
    static constexpr size_t kNone = size_t(-1);
    size_t at = kNone; // bytes of the step sent before the stop
    StopKind kind = StopKind::Close;
    int stallMs = 0;
};

class StreamFuzzer
{
public:
    explicit StreamFuzzer(uint64_t seed);

    // Per connection: how the stream is cut into packets.
    size_t MJpegPayloadLimit(size_t usual);
    int AsfPacketSize(int usual);

    // What the decoders get, before it is packed.
    void Jpeg(std::string& picture);
    void Mpeg4Config(std::vector<uint8_t>& config);
    void Mpeg4Frame(std::vector<uint8_t>& frame, bool& key);

    // The container, once packed: the bytes from `from` on are whole packets of this step.
    void MJpegPackets(std::string& bytes, size_t from);
    void AsfHeader(std::string& header); // header object and data object header
    void AsfPackets(std::string& bytes, size_t from, size_t packetSize);

    // Where a step of `length` bytes is interrupted, if it is.
    StreamStop Cut(size_t length, bool first);

private:
    // Scaled by the connection's intensity.
    bool Chance(uint32_t perMille);
    void JpegField(std::string& picture);
    void InsertExif(std::string& picture);

    FuzzRandom m_random;
    uint32_t m_intensity = 10;  // tenths of the normal rates
    uint32_t m_stepsLeft = 0;   // before the connection ends whatever the dice said
    int m_timeBits = 0;         // vop_time_increment's length in the pictures as encoded; 0 unknown
    std::vector<uint8_t> m_vol; // the layer header and what follows it, as the stream sent it
};

} // namespace camsim
