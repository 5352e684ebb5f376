#include "camsim/stream_fuzz.h"

#include <algorithm>
#include <utility>

namespace camsim {

namespace {

// Chances per mille at the normal intensity; a connection scales them by its own intensity, so
// some connections run long on mostly good data and others break at once.
constexpr uint32_t kPictureDamage = 150;  // a JPEG picture or MPEG-4 frame
constexpr uint32_t kContainerDamage = 45; // the packets of one step
constexpr uint32_t kClose = 10;
constexpr uint32_t kEnd = 4;
constexpr uint32_t kStall = 15;
constexpr uint32_t kConfigDamage = 300; // once per connection
constexpr uint32_t kHeaderDamage = 250; // once per connection
constexpr uint32_t kFirstStepCut = 30;  // the header or first picture ends early
// A mild connection could otherwise run clean for many seconds, and a hostile camera is one
// that drops its clients: every connection ends within this many steps (pictures or packets).
constexpr uint32_t kLongestLife = 100;

constexpr size_t kMJpegHeader = 48;
constexpr size_t kAsfPacketHeader = 14;

// Both bounded by the string: damage never reaches past the bytes it was given.
uint64_t GetLe(const std::string& s, size_t at, int bytes)
{
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | (at + size_t(i) < s.size() ? uint8_t(s[at + size_t(i)]) : 0u);
    return v;
}

void PutLe(std::string& s, size_t at, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes && at + size_t(i) < s.size(); ++i)
        s[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
}

void AppendLe(std::string& s, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        s.push_back(char((v >> (8 * i)) & 0xFF));
}

void AppendBe(std::string& s, uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        s.push_back(char((v >> (8 * i)) & 0xFF));
}

uint32_t GetBits(const std::vector<uint8_t>& d, size_t bit, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++bit)
        v = (v << 1) | (bit / 8 < d.size() ? (d[bit / 8] >> (7 - bit % 8)) & 1u : 0u);
    return v;
}

void SetBits(std::vector<uint8_t>& d, size_t bit, int n, uint32_t value)
{
    for (int i = n - 1; i >= 0; --i, ++bit) {
        if (bit / 8 >= d.size())
            return;
        const uint8_t mask = uint8_t(0x80 >> (bit % 8));
        d[bit / 8] = (value >> i) & 1u ? d[bit / 8] | mask : d[bit / 8] & ~mask;
    }
}

// A size field's worst values: zero, off by one, past every limit the receivers keep (16 MiB
// objects, 32 MiB pictures), or anything.
uint32_t AbsurdSize(FuzzRandom& r, uint32_t actual)
{
    switch (r.Below(8)) {
    case 0:
        return r.Pick<uint32_t>({0, 1});
    case 1:
        return actual + 1;
    case 2:
        return actual - 1;
    case 3:
        return actual * 2;
    case 4:
        return r.Pick<uint32_t>({0x7FFFFFFF, 0xFFFFFFFF, 0xFFFFFFF0, 0x80000000});
    case 5:
        return r.Pick<uint32_t>({(16u << 20) - 1, 16u << 20, (16u << 20) + 1});
    case 6:
        return r.Pick<uint32_t>({(32u << 20) - 1, 32u << 20, (32u << 20) + 1});
    default:
        return uint32_t(r.Next());
    }
}

size_t FindStartCode(const std::vector<uint8_t>& d, uint8_t low, uint8_t high)
{
    for (size_t i = 0; i + 3 < d.size(); ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] >= low && d[i + 3] <= high)
            return i;
    return d.size();
}

// The video object layer header's fields in the narrow layout (mpeg4_narrow.h), as bit
// positions after its start code.
constexpr size_t kVolShape = 15, kVolResolution = 18, kVolWidth = 37, kVolHeight = 51;
constexpr size_t kVolMarkers[] = {17, 34, 36, 50, 64};
constexpr size_t kVolFlags[] = {65 /* interlaced */, 67 /* sprite */, 68 /* not 8 bit */,
                                69 /* quant type */, 72 /* data partitioned */};
constexpr int kVolBits = 80;

struct JpegSegment
{
    uint8_t marker;
    size_t at;     // of its 0xFF
    size_t length; // the length field's value; 0 for markers without one
};

// The marker segments up to the scan's data; the scan is the last one listed.
std::vector<JpegSegment> JpegSegments(const std::string& p)
{
    std::vector<JpegSegment> out;
    if (p.size() < 4 || uint8_t(p[0]) != 0xFF || uint8_t(p[1]) != 0xD8)
        return out;
    size_t at = 2;
    while (at + 4 <= p.size() && uint8_t(p[at]) == 0xFF) {
        const uint8_t marker = uint8_t(p[at + 1]);
        const size_t length = size_t(uint8_t(p[at + 2])) << 8 | uint8_t(p[at + 3]);
        out.push_back({marker, at, length});
        if (marker == 0xDA || length < 2)
            break;
        at += 2 + length;
    }
    return out;
}

} // namespace

uint64_t FuzzRandom::Next()
{
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

uint32_t FuzzRandom::Below(uint32_t n)
{
    return uint32_t(Next() % n);
}

StreamFuzzer::StreamFuzzer(uint64_t seed) : m_random(seed)
{
    m_intensity = m_random.Pick<uint32_t>({3, 10, 10, 10, 30});
    m_stepsLeft = kLongestLife / 4 + m_random.Below(kLongestLife * 3 / 4);
}

bool StreamFuzzer::Chance(uint32_t perMille)
{
    return m_random.Below(1000) < perMille * m_intensity / 10;
}

size_t StreamFuzzer::MJpegPayloadLimit(size_t usual)
{
    if (!m_random.Percent(20))
        return usual;
    return m_random.Pick<size_t>({8 + m_random.Below(64), 200, 4000, 65535});
}

int StreamFuzzer::AsfPacketSize(int usual)
{
    if (!m_random.Percent(20))
        return usual;
    // Above 4,096 the receiver's packet buffer would not hold it.
    return m_random.Pick<int>({128, 128 + int(m_random.Below(3968)), 4096, 4097, 8192});
}

void StreamFuzzer::Jpeg(std::string& p)
{
    if (!Chance(kPictureDamage))
        return;
    for (uint32_t n = 1 + m_random.Below(3); n > 0; --n) {
        const uint32_t what = m_random.Below(100);
        if (what < 50) {
            JpegField(p);
        } else if (what < 72) {
            // Damage in the entropy-coded data, where only the decoder looks.
            const auto segments = JpegSegments(p);
            const size_t data =
                segments.empty() ? 0 : segments.back().at + 2 + segments.back().length;
            if (data >= p.size())
                continue;
            for (uint32_t k = 1 + m_random.Below(16); k > 0; --k) {
                const size_t at = data + m_random.Below(uint32_t(p.size() - data));
                if (m_random.Percent(15))
                    p.insert(
                        p.begin() + std::ptrdiff_t(at),
                        {char(0xFF), char(m_random.Pick<uint8_t>({0xD0, 0xD3, 0xD9, 0xD8, 0xC0}))});
                else
                    p[at] = char(uint8_t(p[at]) ^ uint8_t(1 + m_random.Below(255)));
            }
        } else if (what < 82) {
            p.resize(m_random.Below(uint32_t(p.size()) + 1));
        } else if (what < 93) {
            InsertExif(p);
        } else {
            // Not a JPEG at all: a bitmap of impossible size, noise, or nothing.
            std::string bmp = "BM";
            const uint32_t kind = m_random.Below(3);
            if (kind == 0) {
                AppendLe(bmp, AbsurdSize(m_random, 100), 4);
                AppendLe(bmp, 0, 4);
                AppendLe(bmp, m_random.Pick<uint32_t>({54, 0, 0xFFFFFFFF, 14}), 4);
                AppendLe(bmp, m_random.Pick<uint32_t>({40, 12, 124, 0}), 4);
                AppendLe(bmp, m_random.Pick<uint32_t>({0x7FFFFFFF, 0xFFFFFFFF, 65536, 1, 0}), 4);
                AppendLe(bmp, m_random.Pick<uint32_t>({0x80000000, 0x80000001, 65536, 1, 0}), 4);
                AppendLe(bmp, 1, 2);
                AppendLe(bmp, m_random.Pick<uint32_t>({24, 32, 8, 1, 0, 65535}), 2);
                AppendLe(bmp, m_random.Pick<uint32_t>({0, 1, 3, 0xFFFFFFFF}), 4);
                for (int i = 0; i < 5; ++i)
                    AppendLe(bmp, m_random.Pick<uint32_t>({0, 0xFFFFFFFF, 256}), 4);
                bmp.append(m_random.Below(64), char(0x80));
                p = std::move(bmp);
            } else if (kind == 1) {
                p.resize(m_random.Below(4096));
                for (char& c : p)
                    c = char(m_random.Next());
            } else {
                p.clear();
            }
            return;
        }
    }
}

void StreamFuzzer::JpegField(std::string& p)
{
    const auto segments = JpegSegments(p);
    if (segments.empty())
        return;
    const JpegSegment s = segments[m_random.Below(uint32_t(segments.size()))];
    const size_t body = s.at + 4; // after marker and length
    auto put8 = [&](size_t at, uint8_t v) {
        if (at < p.size())
            p[at] = char(v);
    };
    auto put16 = [&](size_t at, uint32_t v) {
        put8(at, uint8_t(v >> 8));
        put8(at + 1, uint8_t(v));
    };
    switch (m_random.Below(s.marker == 0xC0 ? 8 : 4)) {
    case 0: // the length field
        put16(s.at + 2,
              m_random.Pick<uint32_t>({0, 1, 2, 0xFFFF, uint32_t(s.length) - 1,
                                       uint32_t(s.length) + 1, uint32_t(s.length) + 100}));
        return;
    case 1: // the segment goes, or comes twice
        if (s.marker == 0xDA)
            return;
        if (m_random.Percent(50))
            p.erase(s.at, 2 + s.length);
        else
            p.insert(s.at, p.substr(s.at, 2 + s.length));
        return;
    case 2:
        // The first byte of the body: table class and id (DHT), precision and id (DQT),
        // component count (SOS), precision (SOF), a text's first letter (APPn).
        put8(body, m_random.Pick<uint8_t>({0x00, 0x04, 0x10, 0x20, 0x7F, 0xFF}));
        return;
    case 3:
        if (s.marker == 0xC4 && s.length >= 19) // a Huffman table's code counts
            put8(body + 1 + m_random.Below(16), m_random.Pick<uint8_t>({0xFF, 0x80, 0x00}));
        else if (s.length > 2)
            put8(body + m_random.Below(uint32_t(s.length - 2)), uint8_t(m_random.Next()));
        return;
    case 4: // the picture size, which every buffer after it is sized by
    case 5:
        put16(body + (m_random.Percent(50) ? 1 : 3),
              m_random.Pick<uint32_t>(
                  {0, 1, 8, 0x8000, 0xFFFF, 4096, 2048, 705, m_random.Below(0x10000)}));
        return;
    case 6: // component count, sampling factors or table selectors
        if (m_random.Percent(40))
            put8(body + 5, m_random.Pick<uint8_t>({0, 1, 2, 4, 255}));
        else
            put8(body + 6 + 3 * m_random.Below(3) + 1 + m_random.Below(2),
                 m_random.Pick<uint8_t>({0x00, 0x44, 0x41, 0x14, 0xFF, 0x03, 0x04}));
        return;
    default: // progressive, lossless or arithmetic coding in a baseline picture
        put8(s.at + 1, m_random.Pick<uint8_t>({0xC2, 0xC3, 0xC9, 0xCF}));
        return;
    }
}

void StreamFuzzer::InsertExif(std::string& p)
{
    // A TIFF structure whose counts, offsets and rational values point anywhere: past the
    // end, at themselves, at nothing.
    const bool little = m_random.Percent(70);
    auto put = [&](std::string& s, uint64_t v, int bytes) {
        little ? AppendLe(s, v, bytes) : AppendBe(s, v, bytes);
    };
    std::string tiff = little ? std::string("II*\0", 4) : std::string("MM\0*", 4);
    const uint32_t entries = 1 + m_random.Below(5);
    put(tiff, m_random.Percent(75) ? 8 : m_random.Pick<uint32_t>({0, 7, 0xFFFFFFFF, 200}), 4);
    put(tiff, m_random.Percent(75) ? entries : m_random.Pick<uint32_t>({0, 0xFFFF, 200}), 2);
    const uint32_t values = 8 + 2 + entries * 12 + 4; // where the rationals go
    for (uint32_t i = 0; i < entries; ++i) {
        const uint16_t tag = m_random.Pick<uint16_t>(
            {0x011A, 0x011B, 0x0128, 0x8769, 0x0112, 0x0201, 0x0202, uint16_t(m_random.Next())});
        put(tiff, tag, 2);
        put(tiff, m_random.Pick<uint32_t>({5, 3, 4, 2, 10, 0, 13, 0xFFFF}), 2);   // type
        put(tiff, m_random.Pick<uint32_t>({1, 1, 2, 0xFFFFFFFF, 0x40000000}), 4); // count
        put(tiff, m_random.Pick<uint32_t>({values, values + 8, 8, 0, 0xFFFFFFF0, 0x7FFFFFFF}), 4);
    }
    put(tiff, m_random.Pick<uint32_t>({0, 8, 0xFFFFFFFF}), 4); // next IFD: none, itself, nowhere
    for (int i = 0; i < 4; ++i)
        put(tiff, m_random.Pick<uint32_t>({0, 1, 72, 0xFFFFFFFF}), 4);

    std::string app1 = {char(0xFF), char(0xE1)};
    const size_t length = 2 + 6 + tiff.size();
    AppendBe(app1, m_random.Percent(80) ? length : m_random.Pick<uint32_t>({0, 2, 8, 0xFFFF}), 2);
    app1.append("Exif\0\0", 6);
    app1 += tiff;
    p.insert(std::min<size_t>(2, p.size()), app1);
}

void StreamFuzzer::Mpeg4Config(std::vector<uint8_t>& c)
{
    const size_t vol = FindStartCode(c, 0x20, 0x2F);
    const size_t base = (vol + 4) * 8;
    if (vol < c.size()) {
        const uint32_t resolution = GetBits(c, base + kVolResolution, 16);
        m_timeBits = 1;
        while (m_timeBits < 16 && (1u << m_timeBits) < resolution)
            ++m_timeBits;
    }
    if (vol < c.size())
        m_vol.assign(c.begin() + std::ptrdiff_t(vol), c.end());
    if (!Chance(kConfigDamage))
        return;
    if (vol >= c.size() || m_random.Percent(15)) {
        if (m_random.Percent(50))
            c.resize(m_random.Below(uint32_t(c.size()) + 1));
        else
            for (uint32_t k = 1 + m_random.Below(6); k > 0 && !c.empty(); --k)
                c[m_random.Below(uint32_t(c.size()))] ^= uint8_t(1u << m_random.Below(8));
        return;
    }
    switch (m_random.Below(6)) {
    case 0:
    case 1: // the picture size, which the decoder sizes its planes by
        SetBits(c, base + (m_random.Percent(50) ? kVolWidth : kVolHeight), 13,
                m_random.Pick<uint32_t>(
                    {0, 1, 2, 8191, 4096, 2048, 1024, 720, 706, 482, m_random.Below(8192)}));
        break;
    case 2: // time increments of zero or sixteen bits
        SetBits(c, base + kVolResolution, 16, m_random.Pick<uint32_t>({0, 1, 2, 65535}));
        break;
    case 3:
        SetBits(c, base + kVolShape, 2, 1 + m_random.Below(3));
        break;
    case 4:
        SetBits(c, base + kVolMarkers[m_random.Below(std::size(kVolMarkers))], 1, 0);
        break;
    default:
        SetBits(c, base + kVolFlags[m_random.Below(std::size(kVolFlags))], 1, 1);
        break;
    }
    if (m_random.Percent(30))
        SetBits(c, base + m_random.Below(kVolBits), 1, m_random.Below(2));
}

void StreamFuzzer::Mpeg4Frame(std::vector<uint8_t>& f, bool& key)
{
    if (m_random.Below(1000) < 10)
        key = !key;
    if (!Chance(kPictureDamage))
        return;
    switch (m_random.Below(8)) {
    case 0:
    case 1: {
        // A field of the picture header. Its layout: coding type (2), modulo time base (ones,
        // then a zero), marker, time increment, marker, coded flag, rounding (P only), intra DC
        // threshold (3), quantiser (5), forward f_code (3, P only).
        if (f.size() < 6 || m_timeBits == 0) {
            SetBits(f, 32 + m_random.Below(24), 1, m_random.Below(2));
            break;
        }
        const uint32_t type = GetBits(f, 32, 2);
        size_t bit = 34;
        while (bit < f.size() * 8 && GetBits(f, bit, 1) == 1)
            ++bit;
        bit += 2 + size_t(m_timeBits); // the zero, the marker, the increment
        const size_t marker = bit, coded = bit + 1;
        const size_t dc = coded + 1 + (type == 1 ? 1 : 0);
        const size_t quant = dc + 3, fcode = quant + 5;
        switch (m_random.Below(6)) {
        case 0:
            SetBits(f, 32, 2, m_random.Pick<uint32_t>({2, 3, type ^ 1}));
            break;
        case 1:
            SetBits(f, marker, 1, 0);
            break;
        case 2:
            SetBits(f, coded, 1, 0);
            break;
        case 3:
            SetBits(f, dc, 3, 7);
            break;
        case 4:
            SetBits(f, quant, 5, m_random.Pick<uint32_t>({0, 1, 31}));
            break;
        default:
            if (type == 1)
                SetBits(f, fcode, 3, m_random.Pick<uint32_t>({0, 7}));
            break;
        }
        break;
    }
    case 2: // bits of the macroblocks
        for (uint32_t k = 1 + m_random.Below(8); k > 0 && f.size() > 5; --k)
            f[5 + m_random.Below(uint32_t(f.size() - 5))] ^= uint8_t(1u << m_random.Below(8));
        break;
    case 3:
        f.resize(m_random.Below(uint32_t(f.size()) + 1));
        break;
    case 4: { // a start code where none belongs
        const uint8_t code = m_random.Pick<uint8_t>({0xB6, 0x20, 0xB3, 0xB1, 0xB0, 0x00});
        const size_t at = m_random.Below(uint32_t(f.size()) + 1);
        f.insert(f.begin() + std::ptrdiff_t(at), {0x00, 0x00, 0x01, code});
        break;
    }
    case 5: { // a run of zeros (false start codes) or ones
        if (f.empty())
            break;
        const size_t at = m_random.Below(uint32_t(f.size()));
        const size_t n = std::min<size_t>(f.size() - at, 1 + m_random.Below(64));
        std::fill_n(f.begin() + std::ptrdiff_t(at), n, m_random.Percent(70) ? 0x00 : 0xFF);
        break;
    }
    case 6: { // the layer header again in front, for another picture size
        std::vector<uint8_t> vol = m_vol;
        if (vol.size() * 8 < 4 * 8 + kVolBits)
            break;
        SetBits(vol, 32 + kVolWidth, 13, m_random.Pick<uint32_t>({160, 704, 1024, 2048, 8191}));
        SetBits(vol, 32 + kVolHeight, 13, m_random.Pick<uint32_t>({120, 480, 768, 2048, 8191}));
        f.insert(f.begin(), vol.begin(), vol.end());
        break;
    }
    default: { // two pictures in one object
        const std::vector<uint8_t> copy = f;
        f.insert(f.end(), copy.begin(), copy.end());
        break;
    }
    }
}

void StreamFuzzer::MJpegPackets(std::string& s, size_t from)
{
    if (!Chance(kContainerDamage))
        return;
    std::vector<size_t> packets;
    for (size_t at = from; at + kMJpegHeader <= s.size();
         at += kMJpegHeader + size_t(GetLe(s, at + 16, 2)))
        packets.push_back(at);
    if (packets.empty())
        return;
    const size_t k = m_random.Below(uint32_t(packets.size()));
    const size_t at = packets[k];
    const size_t length = std::min(kMJpegHeader + size_t(GetLe(s, at + 16, 2)), s.size() - at);
    switch (m_random.Below(14)) {
    case 0:
        s[at + m_random.Below(4)] = char(m_random.Next());
        break; // tag
    case 1:
        PutLe(s, at + 22, m_random.Pick<uint32_t>({0, 3, 255, 3u - uint8_t(s[at + 22])}), 1);
        break;
    case 2:
        PutLe(s, at + 25, m_random.Pick<uint32_t>({0, 2, 255}), 1);
        break;
    case 3:
    case 4:
        PutLe(s, at + 4, AbsurdSize(m_random, uint32_t(GetLe(s, at + 4, 4))), 4);
        break;
    case 5: // the painter's picture size
        PutLe(s, at + 8 + 2 * m_random.Below(2),
              m_random.Pick<uint32_t>({0, 1, 65535, 32768, 4096, 705, 1024}), 2);
        break;
    case 6:
        PutLe(s, at + 12,
              m_random.Pick<uint32_t>({uint32_t(GetLe(s, at + 12, 4)) + 1,
                                       uint32_t(GetLe(s, at + 12, 4)) - 1, 0xFFFFFFFF,
                                       uint32_t(GetLe(s, at + 4, 4))}),
              4);
        break;
    case 7: // the payload length: the parser takes the next header from the wrong place
        PutLe(s, at + 16,
              m_random.Pick<uint32_t>({0, uint32_t(length - kMJpegHeader) + 1,
                                       uint32_t(length - kMJpegHeader) - 1, 65535,
                                       m_random.Below(65536)}),
              2);
        break;
    case 8: // the time stamp the painter waits for
        PutLe(s, at + 18,
              m_random.Pick<uint32_t>({0, 0xFFFFFFFF, uint32_t(GetLe(s, at + 18, 4)) + 3600000,
                                       uint32_t(GetLe(s, at + 18, 4)) - 100000}),
              4);
        break;
    case 9: // the audio code size and frame size that open the sound output
        PutLe(s, at + 23, m_random.Pick<uint32_t>({0, 1, 6, 8, 255, 65535}), 2);
        if (m_random.Percent(50))
            PutLe(s, at + 4, m_random.Pick<uint32_t>({0, 1, 65535, 0xFFFFFFFF}), 4);
        break;
    case 10:
        s.insert(at + length, s.substr(at, length));
        break;
    case 11:
        s.erase(at, length);
        break;
    case 12: { // bytes between packets
        std::string junk(1 + m_random.Below(64), '\0');
        for (char& c : junk)
            c = char(m_random.Next());
        s.insert(at, junk);
        break;
    }
    default: { // a header that promises a picture it never sends
        std::string h = s.substr(at, kMJpegHeader);
        PutLe(h, 4, AbsurdSize(m_random, 1 << 20), 4);
        PutLe(h, 12, 0, 4);
        PutLe(h, 16, 0, 2);
        PutLe(h, 22, 1, 1);
        s.insert(at, h);
        break;
    }
    }
}

void StreamFuzzer::AsfHeader(std::string& h)
{
    if (!Chance(kHeaderDamage) || h.size() < 30)
        return;
    struct Object
    {
        size_t at, size;
        bool fileProperties, video, audio;
    };
    static const std::string kFileProps("\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11", 8);
    static const std::string kStreamProps("\x91\x07\xDC\xB7\xB7\xA9\xCF\x11", 8);
    std::vector<Object> objects;
    const size_t end = size_t(GetLe(h, 16, 4));
    for (size_t at = 30; at + 24 <= std::min(end, h.size());) {
        const size_t size = size_t(GetLe(h, at + 16, 4));
        if (size < 24 || at + size > h.size())
            break;
        const bool stream = h.compare(at, 8, kStreamProps) == 0 && size > 40;
        objects.push_back({at, size, h.compare(at, 8, kFileProps) == 0,
                           stream && uint8_t(h[at + 24]) == 0xC0,
                           stream && uint8_t(h[at + 24]) == 0x40});
        at += size;
    }
    auto find = [&](auto pred) -> const Object* {
        for (const Object& o : objects)
            if (pred(o))
                return &o;
        return nullptr;
    };
    const Object* file = find([](const Object& o) { return o.fileProperties; });
    const Object* video = find([](const Object& o) { return o.video; });
    const Object* audio = find([](const Object& o) { return o.audio; });

    switch (m_random.Below(12)) {
    case 0: // the header object's size, which the receiver reads that many bytes by
        if (m_random.Percent(20))
            PutLe(h, 20, 0xFFFFFFFF, 4);
        else
            PutLe(h, 16,
                  m_random.Pick<uint32_t>({0, 1, 29, 30, 31, 1054, 1055, 0xFFFFFFFF,
                                           uint32_t(end) + 1, uint32_t(end) - 1}),
                  4);
        break;
    case 1: // the number of objects to walk
        PutLe(h, 24, m_random.Pick<uint32_t>({0, 1, 255, 0x7FFFFFFF, 0xFFFFFFFF}), 4);
        break;
    case 2: // an object's size: the walk's step
        if (!objects.empty()) {
            const Object& o = objects[m_random.Below(uint32_t(objects.size()))];
            PutLe(h, o.at + 16,
                  m_random.Pick<uint32_t>(
                      {0, 1, 23, 24, uint32_t(o.size) - 1, uint32_t(o.size) + 1, 0xFFFFFFFF}),
                  4);
        }
        break;
    case 3: // an identifier: the header's own, or one of its objects'
        if (objects.empty() || m_random.Percent(30))
            h[m_random.Below(16)] ^= 0x01;
        else
            h[objects[m_random.Below(uint32_t(objects.size()))].at + m_random.Below(16)] ^= 0x01;
        break;
    case 4:
        if (file)
            PutLe(
                h, file->at + 92 + (m_random.Percent(80) ? 0 : 4),
                m_random.Pick<uint32_t>({0, 1, 13, 14, 15, 16, 31, 4096, 4097, 65536, 0xFFFFFFFF}),
                4);
        break;
    case 5: // the format data's size: how much configuration the decoder gets
        if (video)
            PutLe(h, video->at + 89,
                  m_random.Pick<uint32_t>({0, 39, 40, 41, 0xFFFFFFFF, 1000, uint32_t(video->size)}),
                  4);
        break;
    case 6:
    case 7: // the picture size the painter prepares for
        if (video)
            PutLe(h, video->at + 93 + 4 * m_random.Below(2),
                  m_random.Pick<uint32_t>(
                      {0, 1, 0xFFFFFFFF, 0x80000000, 0x7FFFFFFF, 8192, 1024, 768, 705, 481, 65536}),
                  4);
        break;
    case 8:
        if (audio)
            PutLe(h, audio->at + 92, m_random.Pick<uint32_t>({0, 1, 6, 8, 16, 65535}), 2);
        break;
    case 9: // video described as audio, or the other way round
        if (video || audio) {
            const Object& o = video ? *video : *audio;
            h[o.at + 24] = char(video ? 0x40 : 0xC0);
            h[o.at + 25] = char(video ? 0x9E : 0xEF);
            h[o.at + 26] = char(video ? 0x69 : 0x19);
            h[o.at + 27] = char(video ? 0xF8 : 0xBC);
        }
        break;
    case 10: // a second video stream, the sizes kept consistent so it is read
        if (video && end <= h.size()) {
            const std::string copy = h.substr(video->at, video->size);
            h.insert(end, copy);
            PutLe(h, 16, end + copy.size(), 4);
            PutLe(h, 24, GetLe(h, 24, 4) + 1, 4);
        }
        break;
    default: // one byte anywhere in the objects
        if (end > 30 && end <= h.size())
            h[30 + m_random.Below(uint32_t(end - 30))] = char(m_random.Next());
        break;
    }
}

void StreamFuzzer::AsfPackets(std::string& s, size_t from, size_t packetSize)
{
    if (!Chance(kContainerDamage) || packetSize <= kAsfPacketHeader)
        return;
    struct Payload
    {
        size_t at, header, length;
    };
    std::vector<size_t> packets;
    for (size_t at = from; at + packetSize <= s.size(); at += packetSize)
        packets.push_back(at);
    if (packets.empty())
        return;
    const size_t p = packets[m_random.Below(uint32_t(packets.size()))];
    std::vector<Payload> payloads;
    for (size_t at = p + kAsfPacketHeader, n = uint8_t(s[p + 13]) & 0x3F; n > 0; --n) {
        const size_t header = uint8_t(s[at + 6]) == 8 ? 17 : 9;
        if (at + header > p + packetSize)
            break;
        const size_t length = size_t(GetLe(s, at + header - 2, 2));
        if (at + header + length > p + packetSize)
            break;
        payloads.push_back({at, header, length});
        at += header + length;
    }
    const uint32_t what = m_random.Below(payloads.empty() ? 4 : 12);
    switch (what) {
    case 0: // the payload count
        s[p + 13] = char(0x80 | (m_random.Pick<uint32_t>({0, 63, uint32_t(payloads.size()) + 1,
                                                          uint32_t(payloads.size()) - 1}) &
                                 0x3F));
        break;
    case 1: // the padding length, which places the zone levels
        PutLe(s, p + 5, m_random.Pick<uint32_t>({0, 3, 0xFFFF, uint32_t(packetSize)}), 2);
        break;
    case 2: // a whole packet twice, dropped, or out of its place
        if (m_random.Percent(40))
            s.insert(p, s.substr(p, packetSize));
        else if (m_random.Percent(50))
            s.erase(p, packetSize);
        else
            s.insert(p, m_random.Below(uint32_t(packetSize)), char(m_random.Next()));
        break;
    case 3: // noise or nothing for a packet
        for (size_t i = p; i < p + packetSize; ++i)
            s[i] = m_random.Percent(50) ? char(m_random.Next()) : '\0';
        break;
    default: {
        const Payload& q = payloads[m_random.Below(uint32_t(payloads.size()))];
        switch (what) {
        case 4: // the stream number
            s[q.at] = char(
                m_random.Pick<uint32_t>({0x00, 0x03, 0x82, 0x7F, 0xFF, uint8_t(s[q.at]) ^ 0x80u}));
            break;
        case 5: // where the fragment goes in its object
            PutLe(s, q.at + 2,
                  m_random.Pick<uint32_t>({uint32_t(GetLe(s, q.at + 2, 4)) + 1,
                                           uint32_t(GetLe(s, q.at + 2, 4)) - 1, 0xFFFFFFFF,
                                           0x80000000}),
                  4);
            break;
        case 6: // a replicated data length the layout does not have
            s[q.at + 6] = char(m_random.Pick<uint32_t>({0, 8, 1, 7, 9, 255}));
            break;
        case 7:
        case 8: // the media object's size, which the receiver allocates
            if (q.header == 17)
                PutLe(s, q.at + 7, AbsurdSize(m_random, uint32_t(GetLe(s, q.at + 7, 4))), 4);
            else
                PutLe(s, q.at + 2, AbsurdSize(m_random, uint32_t(GetLe(s, q.at + 2, 4))), 4);
            break;
        case 9: // the presentation time the painter paces by
            if (q.header == 17)
                PutLe(s, q.at + 11, m_random.Pick<uint32_t>({0, 0xFFFFFFFF, 0x7FFFFFFF}), 4);
            break;
        case 10: // the payload length
            PutLe(s, q.at + q.header - 2,
                  m_random.Pick<uint32_t>({0, uint32_t(q.length) + 1, uint32_t(q.length) - 1,
                                           0xFFFF, uint32_t(packetSize)}),
                  2);
            break;
        default: { // the four bytes after the data: zone levels where a picture ends
            const size_t after = q.at + q.header + q.length;
            for (size_t i = after; i < std::min(after + 4, p + packetSize); ++i)
                s[i] = char(m_random.Next());
            break;
        }
        }
    }
    }
}

StreamStop StreamFuzzer::Cut(size_t length, bool first)
{
    StreamStop stop;
    const uint32_t roll = m_random.Below(1000) * 10 / m_intensity;
    if (first && m_random.Below(1000) < kFirstStepCut) {
        stop.at = m_random.Below(uint32_t(std::min<size_t>(length, 64)) + 1);
        stop.kind = m_random.Percent(50) ? StopKind::Close : StopKind::End;
        return stop;
    }
    if (m_stepsLeft > 0)
        --m_stepsLeft;
    if (m_stepsLeft == 0) {
        stop.kind = m_random.Percent(50) ? StopKind::Close : StopKind::End;
    } else if (roll < kClose) {
        stop.kind = StopKind::Close;
    } else if (roll < kClose + kEnd) {
        stop.kind = StopKind::End;
    } else if (roll < kClose + kEnd + kStall) {
        stop.kind = StopKind::Stall;
        stop.stallMs =
            m_random.Percent(85) ? int(20 + m_random.Below(600)) : int(1000 + m_random.Below(3000));
    } else {
        return stop;
    }
    stop.at = m_random.Below(uint32_t(length) + 1);
    return stop;
}

} // namespace camsim
