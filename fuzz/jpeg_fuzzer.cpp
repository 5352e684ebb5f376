// JPEG decoding into the image holder, Exif scan included, limited as the Motion-JPEG painter
// limits it. A picture that decodes is read in full and, when small, encoded again and decoded
// back.
//
// Seeds (fuzz/corpus/jpeg_fuzzer): small pictures written with libjpeg: grey, 4:2:0 and 4:4:4
// colour, progressive, CMYK, restart intervals, Exif sections in both byte orders.

#include "codec/image_file.h"
#include "codec/image_holder.h"
#include "viewer/picture_limits.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > UINT32_MAX)
        return 0;
    // An exact-size copy, so that any read past the end is caught.
    std::unique_ptr<uint8_t[]> input(new uint8_t[size]);
    if (size != 0)
        std::memcpy(input.get(), data, size);

    CImageHolder holder;
    holder.SetSizeLimit(kLargestPictureWidth, kLargestPictureHeight);
    if (!holder.Decode(input.get(), static_cast<uint32_t>(size), FormatJpeg)) {
        if (holder.IsValid() || holder.GetLastError()[0] == '\0')
            __builtin_trap(); // a failure must leave a message and nothing held
        return 0;
    }
    const uint8_t* bits = holder.GetBits();
    unsigned sum = 0;
    for (size_t i = 0; i < size_t(holder.GetEffWidth()) * holder.GetHeight(); ++i)
        sum += bits[i];
    volatile unsigned sink = sum;
    (void)sink;

    if (uint64_t(holder.GetWidth()) * holder.GetHeight() <= 256 * 256) {
        CImageMemFile out;
        if (!holder.Encode(out, FormatJpeg))
            __builtin_trap(); // every decoded JPEG is grey or 24-bit
        CImageHolder back;
        size_t length = static_cast<size_t>(out.Size());
        if (!back.Decode(out.GetBuffer(false), static_cast<uint32_t>(length), FormatJpeg) ||
            back.GetWidth() != holder.GetWidth() || back.GetHeight() != holder.GetHeight() ||
            back.GetBpp() != holder.GetBpp())
            __builtin_trap();
    }
    return 0;
}
