#pragma once
// Builds Motion-JPEG stream packets byte by byte, independent of the parser's own header reader.

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct Packet
{
    std::string tag = "MJPG";
    uint32_t frameSize = 0;
    uint16_t width = 320, height = 240;
    uint32_t frameOffset = 0;
    uint32_t timestamp = 0;
    uint8_t type = 1;
    uint16_t codeSize = 4;
    uint8_t version = 1;
    std::vector<uint8_t> payload;
};

inline void Put(std::vector<uint8_t>& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(uint8_t(value >> (8 * i)));
}

inline void Append(std::vector<uint8_t>& out, const Packet& p)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(i < int(p.tag.size()) ? uint8_t(p.tag[size_t(i)]) : 0);
    Put(out, p.frameSize, 4);
    Put(out, p.width, 2);
    Put(out, p.height, 2);
    Put(out, p.frameOffset, 4);
    Put(out, p.payload.size(), 2);
    Put(out, p.timestamp, 4);
    Put(out, p.type, 1);
    Put(out, p.codeSize, 2);
    Put(out, p.version, 1);
    for (int i = 0; i < 20; ++i)
        out.push_back(uint8_t("test packet text...."[i]));
    Put(out, 0, 2);
    out.insert(out.end(), p.payload.begin(), p.payload.end());
}

// A picture of `size` bytes whose content tells its number, split into packets of `chunk` bytes.
inline std::vector<Packet> Picture(uint32_t number, uint32_t size, uint32_t chunk, uint32_t timestamp)
{
    std::vector<Packet> packets;
    for (uint32_t offset = 0; offset < size || (size == 0 && packets.empty()); offset += chunk) {
        Packet p;
        p.frameSize = size;
        p.frameOffset = offset;
        p.timestamp = timestamp;
        for (uint32_t i = offset; i < size && i < offset + chunk; ++i)
            p.payload.push_back(uint8_t(number * 31 + i));
        packets.push_back(p);
        if (size == 0)
            break;
    }
    return packets;
}

inline Packet Audio(uint32_t timestamp, size_t bytes, uint8_t fill, uint16_t codeSize = 4)
{
    Packet p;
    p.type = 2;
    p.frameSize = uint32_t(bytes);
    p.codeSize = codeSize;
    p.timestamp = timestamp;
    p.payload.assign(bytes, fill);
    return p;
}

} // namespace testsupport
