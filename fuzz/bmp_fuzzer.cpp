// BMP decoding into the image holder, with and without the file header. A picture that decodes
// must come back unchanged through the BMP encoder.
//
// Seeds (fuzz/corpus/bmp_fuzzer): small BMPs and bare DIBs written byte by byte: 1, 4, 8, 16, 24
// and 32 bits, core, 40-, 64- and 108-byte headers, bit fields, top-down rows, pixel offsets.

#include "codec/image_file.h"
#include "codec/image_holder.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > UINT32_MAX)
        return 0;
    std::unique_ptr<uint8_t[]> input(new uint8_t[size]);
    if (size != 0)
        std::memcpy(input.get(), data, size);

    CImageHolder holder;
    if (!holder.Decode(input.get(), static_cast<uint32_t>(size), FormatBmp)) {
        if (holder.IsValid() || holder.GetLastError()[0] == '\0')
            __builtin_trap();
        return 0;
    }

    CImageMemFile out;
    if (!holder.Encode(out, FormatBmp))
        __builtin_trap();
    CImageHolder back;
    size_t length = static_cast<size_t>(out.Size());
    if (!back.Decode(out.GetBuffer(false), static_cast<uint32_t>(length), FormatBmp))
        __builtin_trap();
    size_t block =
        40 + 4 * size_t(holder.GetNumColors()) + size_t(holder.GetEffWidth()) * holder.GetHeight();
    if (back.GetXDPI() != holder.GetXDPI() || back.GetYDPI() != holder.GetYDPI() ||
        std::memcmp(back.GetDIB(), holder.GetDIB(), block) != 0)
        __builtin_trap();
    return 0;
}
