// libavcodec's mpeg4 decoder as the outside oracle (one thread, from memory).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace mpeg4test {

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> yuv; // tight planar 4:2:0
};

class ReferenceDecoder {
public:
    ReferenceDecoder();
    ~ReferenceDecoder();
    bool ok() const;
    // Decodes one call's bytes; appends any finished pictures (copied when
    // `keep`, else only counted).
    bool decode(const uint8_t* data, size_t size, std::vector<Picture>* keep, int* frames);
    // Decodes one call's bytes and shows each finished picture where libavcodec keeps it.
    using Visit = std::function<void(const uint8_t* const plane[3], const int stride[3], int width, int height)>;
    bool decode(const uint8_t* data, size_t size, const Visit& visit);
    bool flush(std::vector<Picture>* keep, int* frames);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// PSNR of one plane; 99 for identical planes.
double psnr(const uint8_t* a, const uint8_t* b, size_t n);

} // namespace mpeg4test
