#pragma once
// Builds the camera's ASF layout byte by byte, independent of the parser.

#include <cstdint>
#include <cstring>
#include <vector>

namespace testsupport {

inline void PutLe(std::vector<uint8_t>& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(uint8_t(value >> (8 * i)));
}

inline void PutGuid(std::vector<uint8_t>& out, const char* text)
{
    // "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", stored with its first three fields little-endian.
    auto hex = [&](int at, int count) {
        uint64_t v = 0;
        for (int i = 0; i < count; ++i) {
            char c = text[at + i];
            v = v * 16 + uint64_t(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        }
        return v;
    };
    PutLe(out, hex(0, 8), 4);
    PutLe(out, hex(9, 4), 2);
    PutLe(out, hex(14, 4), 2);
    for (int i = 0; i < 2; ++i)
        out.push_back(uint8_t(hex(19 + 2 * i, 2)));
    for (int i = 0; i < 6; ++i)
        out.push_back(uint8_t(hex(24 + 2 * i, 2)));
}

inline constexpr const char* kHeaderGuid = "75B22630-668E-11CF-A6D9-00AA0062CE6C";
inline constexpr const char* kFilePropertiesGuid = "8CABDCA1-A947-11CF-8EE4-00C00C205365";
inline constexpr const char* kStreamPropertiesGuid = "B7DC0791-A9B7-11CF-8EE6-00C00C205365";
inline constexpr const char* kVideoMediaGuid = "BC19EFC0-5B4D-11CF-A8FD-00805F5C442B";
inline constexpr const char* kAudioMediaGuid = "F8699E40-5B4D-11CF-A8FD-00805F5C442B";

inline std::vector<uint8_t> FileProperties(uint32_t packetSize)
{
    std::vector<uint8_t> o;
    PutGuid(o, kFilePropertiesGuid);
    PutLe(o, 104, 8);
    o.resize(92, 0);
    PutLe(o, packetSize, 4);
    PutLe(o, packetSize, 4); // maximum packet size
    PutLe(o, 0, 4);
    return o;
}

inline std::vector<uint8_t> VideoProperties(uint32_t width, uint32_t height,
                                            const std::vector<uint8_t>& config)
{
    std::vector<uint8_t> o;
    PutGuid(o, kStreamPropertiesGuid);
    PutLe(o, 129 + config.size(), 8);
    PutGuid(o, kVideoMediaGuid);
    o.resize(89, 0);
    PutLe(o, 40 + config.size(), 4); // format data size
    PutLe(o, width, 4);
    PutLe(o, height, 4);
    o.resize(129, 0);
    o.insert(o.end(), config.begin(), config.end());
    return o;
}

inline std::vector<uint8_t> AudioProperties(uint16_t bitsPerSample)
{
    std::vector<uint8_t> o;
    PutGuid(o, kStreamPropertiesGuid);
    PutLe(o, 96, 8);
    PutGuid(o, kAudioMediaGuid);
    o.resize(92, 0);
    PutLe(o, bitsPerSample, 2);
    PutLe(o, 0, 2);
    return o;
}

// The 30-byte preamble and the objects that follow it.
inline std::vector<uint8_t> Header(const std::vector<std::vector<uint8_t>>& objects)
{
    std::vector<uint8_t> body;
    for (const auto& o : objects)
        body.insert(body.end(), o.begin(), o.end());
    std::vector<uint8_t> h;
    PutGuid(h, kHeaderGuid);
    PutLe(h, 30 + body.size(), 8);
    PutLe(h, objects.size(), 4);
    PutLe(h, 0x0201, 2);
    h.insert(h.end(), body.begin(), body.end());
    return h;
}

struct AsfPayload
{
    uint8_t stream = 0x01;
    uint32_t offset = 0;
    int replicated = 8; // 8: object size and time follow; other values: that many bytes
    uint32_t objectSize = 0;
    uint32_t time = 0;
    std::vector<uint8_t> data;
};

inline std::vector<uint8_t> Packet(uint32_t packetSize, const std::vector<AsfPayload>& payloads,
                                   const std::vector<uint8_t>& tail = {})
{
    std::vector<uint8_t> p = {0x82, 0, 0, 0x10, 0x5D};
    std::vector<uint8_t> body;
    for (const AsfPayload& pl : payloads) {
        body.push_back(pl.stream);
        body.push_back(0);
        PutLe(body, pl.offset, 4);
        body.push_back(uint8_t(pl.replicated));
        if (pl.replicated == 8) {
            PutLe(body, pl.objectSize, 4);
            PutLe(body, pl.time, 4);
        } else {
            body.insert(body.end(), size_t(pl.replicated), 0x77);
        }
        PutLe(body, pl.data.size(), 2);
        body.insert(body.end(), pl.data.begin(), pl.data.end());
    }
    // The tail (zone level bytes) lies in the padding.
    const size_t padding = packetSize > 14 + body.size() ? packetSize - 14 - body.size() : 0;
    body.insert(body.end(), tail.begin(), tail.end());
    PutLe(p, padding, 2);
    PutLe(p, 0, 4); // send time
    PutLe(p, 0, 2); // duration
    p.push_back(uint8_t(0x80 | payloads.size()));
    p.insert(p.end(), body.begin(), body.end());
    p.resize(packetSize, 0);
    return p;
}

inline std::vector<uint8_t> Bytes(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(seed + i * 13);
    return v;
}

} // namespace testsupport
