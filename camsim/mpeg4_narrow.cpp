#include "camsim/mpeg4_narrow.h"

namespace camsim {

namespace {

constexpr uint8_t kSequenceCode = 0xB0;
constexpr uint8_t kSequenceEndCode = 0xB1;
constexpr uint8_t kUserDataCode = 0xB2;
constexpr uint8_t kGroupOfVopCode = 0xB3;
constexpr uint8_t kVisualObjectCode = 0xB5;
constexpr uint8_t kVopCode = 0xB6;
constexpr uint8_t kSimpleProfileLevel1 = 0x01;
constexpr unsigned kExtendedPar = 0xF;
constexpr unsigned kRectangular = 0;
constexpr unsigned kChroma420 = 1;
constexpr unsigned kVideoObjectType = 1; // visual_object_type "video ID"
constexpr unsigned kFineGranularityScalable = 0x12;

// Reads most significant bit first; an overrun latches and reads zeros, checked once at the end.
class BitReader
{
public:
    BitReader(const uint8_t* data, size_t size) : m_data(data), m_bits(size * 8) {}

    uint32_t Read(int n)
    {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            if (m_pos >= m_bits) {
                m_overrun = true;
                v <<= 1;
                continue;
            }
            v = (v << 1) | ((m_data[m_pos / 8] >> (7 - m_pos % 8)) & 1u);
            ++m_pos;
        }
        return v;
    }
    bool Overrun() const { return m_overrun; }

private:
    const uint8_t* m_data;
    size_t m_bits;
    size_t m_pos = 0;
    bool m_overrun = false;
};

class BitWriter
{
public:
    explicit BitWriter(std::vector<uint8_t>& out) : m_out(out) {}

    void Write(int n, uint32_t value)
    {
        for (int i = n - 1; i >= 0; --i) {
            if (m_used == 0)
                m_out.push_back(0);
            if ((value >> i) & 1u)
                m_out.back() |= uint8_t(0x80 >> m_used);
            m_used = (m_used + 1) % 8;
        }
    }
    // next_start_code(): a zero bit, then ones up to the byte boundary.
    void Stuff()
    {
        Write(1, 0);
        while (m_used != 0)
            Write(1, 1);
    }

private:
    std::vector<uint8_t>& m_out;
    int m_used = 0; // bits used in the last byte; 0 when it is full
};

void StartCode(std::vector<uint8_t>& out, uint8_t value)
{
    out.insert(out.end(), {0x00, 0x00, 0x01, value});
}

// Positions of the byte-aligned start code prefixes 00 00 01 in [0, size).
std::vector<size_t> StartCodes(const uint8_t* data, size_t size)
{
    std::vector<size_t> at;
    for (size_t i = 0; i + 3 <= size; ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            at.push_back(i);
            i += 2;
        }
    return at;
}

int IncrementBits(unsigned resolution)
{
    int bits = 1;
    while (bits < 16 && (1u << bits) < resolution)
        ++bits;
    return bits;
}

struct Layer
{
    unsigned randomAccessible = 0, typeIndication = 0, aspectRatio = 0;
    unsigned resolution = 0, width = 0, height = 0, quantType = 0;
};

// video_object_layer() after its start code, ISO/IEC 14496-2 6.2.3, as far as a rectangular
// layer without the refused tools goes.
std::optional<Layer> ParseLayer(const uint8_t* data, size_t size)
{
    BitReader r(data, size);
    Layer l;
    l.randomAccessible = r.Read(1);
    l.typeIndication = r.Read(8);
    if (l.typeIndication == kFineGranularityScalable)
        return std::nullopt;
    unsigned verid = 1;
    if (r.Read(1)) {
        verid = r.Read(4);
        r.Read(3); // priority
    }
    l.aspectRatio = r.Read(4);
    if (l.aspectRatio == kExtendedPar)
        return std::nullopt;
    if (r.Read(1)) { // vol_control_parameters
        const unsigned chroma = r.Read(2);
        const unsigned lowDelay = r.Read(1);
        if (chroma != kChroma420 || lowDelay != 1)
            return std::nullopt;
        if (r.Read(1)) // vbv_parameters: bit rate, buffer size and occupancy with their markers
            for (int bits : {15, 1, 15, 1, 15, 1, 3, 11, 1, 15, 1})
                r.Read(bits);
    }
    if (r.Read(2) != kRectangular)
        return std::nullopt;
    r.Read(1);
    l.resolution = r.Read(16);
    r.Read(1);
    if (l.resolution == 0)
        return std::nullopt;
    if (r.Read(1)) // fixed_vop_rate
        r.Read(IncrementBits(l.resolution));
    r.Read(1);
    l.width = r.Read(13);
    r.Read(1);
    l.height = r.Read(13);
    r.Read(1);
    const unsigned interlaced = r.Read(1);
    const unsigned obmcDisable = r.Read(1);
    const unsigned sprite = r.Read(verid == 1 ? 1 : 2);
    const unsigned not8Bit = r.Read(1);
    if (interlaced || !obmcDisable || sprite || not8Bit || l.width == 0 || l.height == 0)
        return std::nullopt;
    l.quantType = r.Read(1);
    if (l.quantType && (r.Read(1) || r.Read(1))) // loaded intra or non-intra matrix
        return std::nullopt;
    if (verid != 1 && r.Read(1)) // quarter_sample
        return std::nullopt;
    const unsigned complexityDisable = r.Read(1);
    const unsigned resyncDisable = r.Read(1);
    const unsigned partitioned = r.Read(1);
    if (!complexityDisable || !resyncDisable || partitioned)
        return std::nullopt;
    if (verid != 1 && (r.Read(1) || r.Read(1))) // newpred, reduced resolution
        return std::nullopt;
    if (r.Read(1)) // scalability
        return std::nullopt;
    if (r.Overrun())
        return std::nullopt;
    return l;
}

void WriteLayer(std::vector<uint8_t>& out, const Layer& l)
{
    BitWriter w(out);
    w.Write(1, l.randomAccessible);
    w.Write(8, l.typeIndication);
    w.Write(1, 0); // is_object_layer_identifier
    w.Write(4, l.aspectRatio);
    w.Write(1, 0); // vol_control_parameters
    w.Write(2, kRectangular);
    w.Write(1, 1);
    w.Write(16, l.resolution);
    w.Write(1, 1);
    w.Write(1, 0); // fixed_vop_rate
    w.Write(1, 1);
    w.Write(13, l.width);
    w.Write(1, 1);
    w.Write(13, l.height);
    w.Write(1, 1);
    w.Write(1, 0); // interlaced
    w.Write(1, 1); // obmc_disable
    w.Write(1, 0); // sprite_enable
    w.Write(1, 0); // not_8_bit
    w.Write(1, l.quantType);
    if (l.quantType)
        w.Write(2, 0); // no loaded matrices
    w.Write(1, 1);     // complexity_estimation_disable
    w.Write(1, 1);     // resync_marker_disable
    w.Write(1, 0);     // data_partitioned
    w.Write(1, 0);     // scalability
    // With or without the two matrix bits, the stuffing evens the header out at 80 bits.
    w.Stuff();
}

} // namespace

std::optional<std::vector<uint8_t>> NarrowConfigHeaders(const uint8_t* data, size_t size)
{
    std::optional<uint8_t> profile;
    std::optional<uint8_t> objectNumber;
    std::optional<Layer> layer;
    uint8_t layerCode = 0x20;
    std::vector<uint8_t> userData;

    const std::vector<size_t> codes = StartCodes(data, size);
    if (codes.empty() || codes.front() != 0)
        return std::nullopt;
    for (size_t k = 0; k < codes.size(); ++k) {
        const size_t at = codes[k];
        const size_t end = k + 1 < codes.size() ? codes[k + 1] : size;
        if (end - at < 4)
            return std::nullopt;
        const uint8_t code = data[at + 3];
        const uint8_t* body = data + at + 4;
        const size_t bodySize = end - at - 4;
        if (code == kVopCode)
            break;
        if (code == kSequenceCode) {
            if (bodySize < 1)
                return std::nullopt;
            profile = body[0];
        } else if (code == kVisualObjectCode) {
            BitReader r(body, bodySize);
            if (r.Read(1))
                r.Read(7); // verid, priority
            if (r.Read(4) != kVideoObjectType || r.Overrun())
                return std::nullopt;
        } else if (code <= 0x1F) {
            if (objectNumber)
                return std::nullopt;
            objectNumber = code;
        } else if (code >= 0x20 && code <= 0x2F) {
            if (layer)
                return std::nullopt;
            layer = ParseLayer(body, bodySize);
            if (!layer)
                return std::nullopt;
            layerCode = code;
        } else if (code == kUserDataCode) {
            userData.insert(userData.end(), data + at, data + end);
        } else if (code != kGroupOfVopCode && code != kSequenceEndCode) {
            return std::nullopt;
        }
    }
    if (!layer)
        return std::nullopt;

    std::vector<uint8_t> out;
    StartCode(out, kSequenceCode);
    out.push_back(profile.value_or(kSimpleProfileLevel1));
    StartCode(out, kVisualObjectCode);
    {
        // Sixteen bits as the layout reads them: identifier with verid 1 and priority 1, video
        // ID, no video signal type, and the stuffing.
        BitWriter w(out);
        w.Write(1, 1);
        w.Write(4, 1);
        w.Write(3, 1);
        w.Write(4, kVideoObjectType);
        w.Write(1, 0);
        w.Stuff();
    }
    StartCode(out, objectNumber.value_or(0x00));
    StartCode(out, layerCode);
    WriteLayer(out, *layer);
    out.insert(out.end(), userData.begin(), userData.end());
    return out;
}

std::vector<uint8_t> StripGroupOfVop(const uint8_t* frame, size_t size)
{
    std::vector<uint8_t> out;
    out.reserve(size);
    const std::vector<size_t> codes = StartCodes(frame, size);
    size_t copied = 0;
    for (size_t k = 0; k < codes.size(); ++k) {
        const size_t at = codes[k];
        if (at + 3 >= size || frame[at + 3] != kGroupOfVopCode)
            continue;
        const size_t end = k + 1 < codes.size() ? codes[k + 1] : size;
        out.insert(out.end(), frame + copied, frame + at);
        copied = end;
    }
    out.insert(out.end(), frame + copied, frame + size);
    return out;
}

} // namespace camsim
