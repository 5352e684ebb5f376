// Pictures are made at run time: JPEGs with libjpeg itself, which also serves as the reference
// decoder, and BMPs byte by byte.

#include "codec/image_file.h"
#include "codec/image_holder.h"
#include "codec/jpeg_exif.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

using Bytes = std::vector<uint8_t>;

void AbortOnError(j_common_ptr cinfo)
{
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    std::fprintf(stderr, "test helper: libjpeg: %s\n", text);
    std::abort();
}

struct JpegOptions
{
    int width = 320;
    int height = 240;
    int components = 3; // 1 grey, 3 RGB, 4 CMYK
    int quality = 85;
    bool progressive = false;
    int densityUnit = 1;
    int xDensity = 72;
    int yDensity = 72;
    Bytes app1 = {}; // written right after the JFIF header
};

// Samples that differ by row, column and channel, so flipped rows or swapped channels show.
uint8_t Sample(int x, int y, int c)
{
    return static_cast<uint8_t>((x * (c + 1) + y * (3 - c % 3) * 2 + c * 60) & 0xFF);
}

Bytes MakeJpeg(const JpegOptions& o, const std::function<uint8_t(int, int, int)>& sample = Sample)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    err.error_exit = AbortOnError;
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = o.width;
    cinfo.image_height = o.height;
    cinfo.input_components = o.components;
    cinfo.in_color_space = o.components == 1   ? JCS_GRAYSCALE
                           : o.components == 3 ? JCS_RGB
                                               : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, o.quality, TRUE);
    if (o.progressive)
        jpeg_simple_progression(&cinfo);
    cinfo.density_unit = static_cast<UINT8>(o.densityUnit);
    cinfo.X_density = static_cast<UINT16>(o.xDensity);
    cinfo.Y_density = static_cast<UINT16>(o.yDensity);
    jpeg_start_compress(&cinfo, TRUE);
    if (!o.app1.empty())
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, o.app1.data(),
                          static_cast<unsigned>(o.app1.size()));
    Bytes row(static_cast<size_t>(o.width * o.components));
    while (cinfo.next_scanline < cinfo.image_height) {
        for (int x = 0; x < o.width; ++x)
            for (int c = 0; c < o.components; ++c)
                row[x * o.components + c] = sample(x, static_cast<int>(cinfo.next_scanline), c);
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&cinfo, &p, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes result(out, out + size);
    std::free(out);
    return result;
}

struct Reference
{
    int width = 0, height = 0, components = 0;
    int densityUnit = 0, xDensity = 0, yDensity = 0;
    Bytes pixels; // top row first; RGB, grey or CMYK as libjpeg gives them
};

Reference ReadJpeg(const Bytes& data)
{
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    err.error_exit = AbortOnError;
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data.data(), data.size());
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.num_components == 3)
        cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    Reference r;
    r.width = static_cast<int>(cinfo.output_width);
    r.height = static_cast<int>(cinfo.output_height);
    r.components = cinfo.output_components;
    r.densityUnit = cinfo.density_unit;
    r.xDensity = cinfo.X_density;
    r.yDensity = cinfo.Y_density;
    size_t stride = size_t(r.width) * r.components;
    r.pixels.resize(stride * r.height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW p = r.pixels.data() + cinfo.output_scanline * stride;
        jpeg_read_scanlines(&cinfo, &p, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return r;
}

// Pixel (x, y) of the picture, y counted from the top, as the holder stores it.
const uint8_t* HolderPixel(const CImageHolder& h, int x, int y)
{
    return h.GetBits() + size_t(h.GetHeight() - 1 - y) * h.GetEffWidth() + x * (h.GetBpp() / 8);
}

uint32_t Le32(const uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

// Little-endian unless `big`.
void Put(Bytes& b, uint32_t v, int bytes, bool big = false)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(static_cast<uint8_t>(v >> 8 * (big ? bytes - 1 - i : i)));
}

struct BmpOptions
{
    bool fileHeader = true;
    uint32_t headerSize = 40;
    int32_t width = 3;
    int32_t height = 2;
    uint32_t bitCount = 24;
    uint32_t compression = 0;
    int64_t sizeImage = -1; // -1: computed
    int32_t ppm = 3780;
    uint32_t colorsUsed = 0;
    uint32_t paletteEntries = 0;
    uint32_t gap = 0; // junk between palette and pixels, announced by the pixel offset
    Bytes masks = {};
    Bytes pixels = {}; // empty: a pattern of the right length
};

Bytes MakeBmp(const BmpOptions& o)
{
    const uint32_t image = (o.bitCount * uint32_t(o.width) + 31) / 32 * 4 * std::abs(o.height);
    const bool core = o.headerSize == 12;
    Bytes info;
    Put(info, o.headerSize, 4);
    Put(info, uint32_t(o.width), core ? 2 : 4);
    Put(info, uint32_t(o.height), core ? 2 : 4);
    Put(info, 1, 2);
    Put(info, o.bitCount, 2);
    if (!core) {
        Put(info, o.compression, 4);
        Put(info, o.sizeImage < 0 ? image : uint32_t(o.sizeImage), 4);
        Put(info, uint32_t(o.ppm), 4);
        Put(info, uint32_t(o.ppm), 4);
        Put(info, o.colorsUsed, 4);
        Put(info, 0, 4);
        info.resize(std::max<size_t>(info.size(), o.headerSize), 0xA5); // later fields: skipped
    }
    info.insert(info.end(), o.masks.begin(), o.masks.end());
    for (uint32_t i = 0; i < o.paletteEntries; ++i) // blue i, green 3i, red 255-i
        Put(info, i | (i * 3 & 0xFF) << 8 | (255 - i) << 16 | 0x77u << 24, core ? 3 : 4);
    info.insert(info.end(), o.gap, 0xEE);

    Bytes pixels = o.pixels;
    for (uint32_t i = 0; o.pixels.empty() && i < image; ++i)
        pixels.push_back(static_cast<uint8_t>(i * 7 + 1));
    Bytes out;
    if (o.fileHeader) {
        out = {'B', 'M'};
        Put(out, uint32_t(14 + info.size() + pixels.size()), 4);
        Put(out, 0, 4);
        Put(out, o.gap != 0 ? uint32_t(14 + info.size()) : 0, 4);
    }
    out.insert(out.end(), info.begin(), info.end());
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

std::string Text(const char* error)
{
    return error != nullptr ? error : "";
}

bool Decode(CImageHolder& h, const Bytes& data, ImageFormat format)
{
    return h.Decode(data.data(), static_cast<uint32_t>(data.size()), format);
}

Bytes EncodeToMemory(CImageHolder& h, ImageFormat format, bool* ok)
{
    CImageMemFile file;
    *ok = h.Encode(file, format);
    size_t size = static_cast<size_t>(file.Size());
    uint8_t* buffer = file.GetBuffer(true);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

struct IfdEntry
{
    uint16_t tag, format;
    uint32_t count, value; // SHORT values sit in the first two bytes of the value field
};

// TIFF structure of an Exif section: IFD0 with `entries`, then the `tail` words.
Bytes MakeTiff(const std::vector<IfdEntry>& entries, bool big, std::vector<uint32_t> tail = {})
{
    Bytes t = {uint8_t(big ? 'M' : 'I'), uint8_t(big ? 'M' : 'I')};
    Put(t, 0x2A, 2, big);
    Put(t, 8, 4, big);
    Put(t, uint32_t(entries.size()), 2, big);
    for (const IfdEntry& e : entries) {
        Put(t, e.tag, 2, big);
        Put(t, e.format, 2, big);
        Put(t, e.count, 4, big);
        e.format == 3 ? (Put(t, e.value, 2, big), Put(t, 0, 2)) : Put(t, e.value, 4, big);
    }
    Put(t, 0, 4);
    for (uint32_t w : tail)
        Put(t, w, 4, big);
    return t;
}

// Exif APP1 payload with X and Y resolution (whole numbers) in a unit.
Bytes MakeExif(uint32_t xres, uint32_t yres, uint16_t unit, bool big = false,
               uint16_t orientation = 1)
{
    const uint32_t rationals = 8 + 2 + 4 * 12 + 4;
    Bytes app1 = {'E', 'x', 'i', 'f', 0, 0};
    Bytes tiff = MakeTiff({{0x0112, 3, 1, orientation},
                           {0x011A, 5, 1, rationals},
                           {0x011B, 5, 1, rationals + 8},
                           {0x0128, 3, 1, unit}},
                          big, {xres, 1, yres, 1});
    app1.insert(app1.end(), tiff.begin(), tiff.end());
    return app1;
}

} // namespace

// --- Create and the block layout ------------------------------------------------------------

TEST(ImageHolderCreate, MapsBitDepthsAndLaysOutThePackedDib)
{
    struct Case
    {
        uint32_t asked, bpp, colors, effWidth;
    };
    // Width 33: 1 bpp needs 5 bytes -> 8, 4 bpp 17 -> 20, 8 bpp 33 -> 36, 24 bpp 99 -> 100.
    const Case cases[] = {{0, 1, 2, 8},     {1, 1, 2, 8},    {2, 4, 16, 20},  {4, 4, 16, 20},
                          {5, 8, 256, 36},  {8, 8, 256, 36}, {9, 24, 0, 100}, {16, 24, 0, 100},
                          {24, 24, 0, 100}, {32, 24, 0, 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked);
        CImageHolder h;
        uint8_t* dib = h.Create(33, 3, c.asked, FormatBmp);
        ASSERT_NE(dib, nullptr);
        EXPECT_EQ(h.GetDIB(), dib);
        EXPECT_EQ(h.GetBpp(), c.bpp);
        EXPECT_EQ(h.GetNumColors(), c.colors);
        EXPECT_EQ(h.IsIndexed(), c.colors != 0);
        EXPECT_EQ(h.GetEffWidth(), c.effWidth);
        EXPECT_EQ(h.GetType(), FormatBmp);
        EXPECT_EQ(Le32(dib), 40u);
        EXPECT_EQ(Le32(dib + 4), 33u);
        EXPECT_EQ(Le32(dib + 8), 3u); // positive: bottom-up
        EXPECT_EQ(dib[12] | dib[13] << 8, 1);
        EXPECT_EQ(dib[14] | dib[15] << 8, int(c.bpp));
        EXPECT_EQ(Le32(dib + 16), 0u);
        EXPECT_EQ(Le32(dib + 20), c.effWidth * 3);
        EXPECT_EQ(h.GetBits(), dib + 40 + 4 * c.colors);
        for (uint32_t i = 0; i < c.effWidth * 3; ++i)
            ASSERT_EQ(h.GetBits()[i], 0);
    }

    CImageHolder one;
    ASSERT_NE(one.Create(1, 1, 24), nullptr);
    EXPECT_EQ(one.GetEffWidth(), 4u);
}

TEST(ImageHolderCreate, RefusedSizesLeaveNothingHeld)
{
    CImageHolder h;
    ASSERT_NE(h.Create(8, 8, 24), nullptr);
    EXPECT_EQ(h.Create(100000, 100000, 24), nullptr);
    EXPECT_STREQ(h.GetLastError(), "IMAGE_MAX_MEMORY exceeded");
    EXPECT_FALSE(h.IsValid());
    EXPECT_EQ(h.GetWidth(), 0u);

    // Within the unit limit, but the header's 32-bit image size could not describe it.
    ASSERT_NE(h.Create(8, 8, 24), nullptr);
    EXPECT_EQ(h.Create(2000000000, 1, 24), nullptr);
    EXPECT_STREQ(h.GetLastError(), "IMAGE_MAX_MEMORY exceeded");
    EXPECT_FALSE(h.IsValid());

    EXPECT_EQ(h.Create(0, 5, 24), nullptr);
    EXPECT_FALSE(h.IsValid());

    // A size limit refuses by either side, in both decoders alike.
    h.SetSizeLimit(16, 8);
    ASSERT_TRUE(Decode(h, MakeJpeg({.width = 16, .height = 8}), FormatJpeg));
    for (auto [w, ht] : {std::pair{17, 8}, std::pair{16, 9}}) {
        SCOPED_TRACE(w);
        EXPECT_FALSE(Decode(h, MakeJpeg({.width = w, .height = ht}), FormatJpeg));
        EXPECT_STREQ(h.GetLastError(), "Picture larger than the holder's limit");
        EXPECT_FALSE(Decode(h, MakeBmp({.width = w, .height = ht}), FormatBmp));
        EXPECT_STREQ(h.GetLastError(), "Picture larger than the holder's limit");
        EXPECT_FALSE(h.IsValid());
    }
}

// --- file abstraction ----------------------------------------------------------------------------

TEST(ImageFiles, MemoryReadsStopAtTheEndAndOnlyOwnedBuffersGrow)
{
    const uint8_t data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    CImageMemFile view(data, sizeof data);
    uint8_t buf[16] = {};
    EXPECT_EQ(view.Read(buf, 4, 2), 2u);
    EXPECT_EQ(view.Read(buf, 4, 1), 0u); // two bytes left: no whole element, but they are copied
    EXPECT_EQ(buf[1], 9);
    EXPECT_TRUE(view.Eof());
    EXPECT_EQ(view.GetC(), EOF);
    EXPECT_TRUE(view.Seek(-3, SEEK_END));
    EXPECT_EQ(view.GetC(), 7);
    EXPECT_FALSE(view.Seek(-1, SEEK_SET));
    EXPECT_EQ(view.Write(buf, 1, 1), 0u); // read-only view

    CImageMemFile owned;
    const std::string text(10000, 'x');
    EXPECT_EQ(owned.Write(text.data(), 1, text.size()), text.size());
    EXPECT_TRUE(owned.Seek(10004, SEEK_SET));
    EXPECT_TRUE(owned.PutC('y'));
    EXPECT_EQ(owned.Size(), 10005);
    uint8_t* buffer = owned.GetBuffer(true);
    EXPECT_EQ(buffer[10001], 0); // the gap is zero-filled
    EXPECT_EQ(buffer[10004], 'y');
    EXPECT_EQ(owned.Size(), 0);
    std::free(buffer);

    uint8_t fixed[6] = {};
    CImageMemFile borrowed(fixed, sizeof fixed);
    EXPECT_EQ(borrowed.Write("abcd", 2, 2), 2u);
    EXPECT_EQ(borrowed.Write("efgh", 2, 2), 1u); // only one element still fits
    EXPECT_EQ(std::memcmp(fixed, "abcdef", 6), 0);
    EXPECT_EQ(borrowed.GetBuffer(true), fixed);
    EXPECT_EQ(borrowed.Size(), 6); // a borrowed buffer is never given away
}

TEST(ImageFiles, StdioWrapperClosesOnlyWhatItOpened)
{
    std::FILE* tmp = std::tmpfile();
    ASSERT_NE(tmp, nullptr);
    {
        CImageIOFile borrowed(tmp);
        EXPECT_EQ(borrowed.Write("hello", 1, 5), 5u);
        EXPECT_EQ(borrowed.Size(), 5);
    }
    EXPECT_EQ(std::fputc('!', tmp), '!'); // still open after the wrapper is gone
    std::fclose(tmp);
    CImageIOFile missing;
    EXPECT_FALSE(missing.Open("/nonexistent-dir/file", "rb"));
}

// --- JPEG decoding
// --------------------------------------------------------------------------------

TEST(JpegDecode, ColourPictureIsBottomUpBgrWithLibjpegsSamples)
{
    const Bytes jpeg = MakeJpeg({});
    const Reference ref = ReadJpeg(jpeg);
    CImageHolder h;
    ASSERT_TRUE(Decode(h, jpeg, FormatJpeg)) << h.GetLastError();
    EXPECT_EQ(h.GetType(), FormatJpeg);
    EXPECT_EQ(h.GetWidth(), 320u);
    EXPECT_EQ(h.GetHeight(), 240u);
    EXPECT_EQ(h.GetBpp(), 24u);
    EXPECT_EQ(h.GetEffWidth(), 960u);
    EXPECT_EQ(Le32(h.GetDIB() + 20), 230400u);
    EXPECT_FALSE(h.IsIndexed());
    // The first block row is the bottom picture row; pixels are libjpeg's RGB, reversed.
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            const uint8_t* rgb = &ref.pixels[(size_t(y) * 320 + x) * 3];
            const uint8_t* bgr = h.GetBits() + size_t(239 - y) * 960 + x * 3;
            ASSERT_EQ(bgr[0], rgb[2]) << x << "," << y;
            ASSERT_EQ(bgr[1], rgb[1]) << x << "," << y;
            ASSERT_EQ(bgr[2], rgb[0]) << x << "," << y;
        }
}

TEST(JpegDecode, GreyGetsAGreyPaletteAndCmykIsScaledByK)
{
    const Bytes g = MakeJpeg({.width = 33, .height = 7, .components = 1});
    const Reference gref = ReadJpeg(g);
    CImageHolder h;
    ASSERT_TRUE(Decode(h, g, FormatJpeg)) << h.GetLastError();
    ASSERT_EQ(h.GetBpp(), 8u);
    ASSERT_EQ(h.GetNumColors(), 256u);
    const uint8_t* pal = h.GetDIB() + 40;
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(Le32(pal + 4 * i), uint32_t(i * 0x010101));
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 33; ++x)
            ASSERT_EQ(*HolderPixel(h, x, y), gref.pixels[y * 33 + x]);

    const Bytes c = MakeJpeg({.width = 24, .height = 16, .components = 4});
    const Reference cref = ReadJpeg(c);
    ASSERT_EQ(cref.components, 4);
    ASSERT_TRUE(Decode(h, c, FormatJpeg)) << h.GetLastError();
    ASSERT_EQ(h.GetBpp(), 24u);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x) {
            const uint8_t* s = &cref.pixels[(size_t(y) * 24 + x) * 4];
            const uint8_t* p = HolderPixel(h, x, y);
            ASSERT_EQ(p[0], s[2] * s[3] / 255);
            ASSERT_EQ(p[1], s[1] * s[3] / 255);
            ASSERT_EQ(p[2], s[0] * s[3] / 255);
        }
}

TEST(JpegDecode, CutShortOrCorruptFramesFailAndLeaveTheHolderEmpty)
{
    for (bool progressive : {false, true}) {
        const Bytes jpeg = MakeJpeg({.progressive = progressive});
        CImageHolder h;
        for (size_t keep : {size_t(0), size_t(2), size_t(30), jpeg.size() / 4, jpeg.size() / 2,
                            jpeg.size() - 2}) {
            SCOPED_TRACE(keep);
            ASSERT_TRUE(Decode(h, jpeg, FormatJpeg)); // something held before each attempt
            EXPECT_FALSE(Decode(h, Bytes(jpeg.begin(), jpeg.begin() + keep), FormatJpeg));
            EXPECT_FALSE(h.IsValid());
            EXPECT_EQ(h.GetDIB(), nullptr);
            EXPECT_NE(h.GetLastError()[0], '\0');
        }
        EXPECT_TRUE(Decode(h, jpeg, FormatJpeg)); // the holder is reusable
    }

    // Corrupt frame header: 12-bit samples, which this libjpeg can't decode.
    const Bytes jpeg = MakeJpeg({});
    size_t sof = 2;
    while (!(jpeg[sof] == 0xFF && jpeg[sof + 1] == 0xC0))
        ++sof;
    Bytes bad = jpeg;
    bad[sof + 4] = 12;
    CImageHolder h;
    EXPECT_FALSE(Decode(h, bad, FormatJpeg));
    EXPECT_FALSE(h.IsValid());
    EXPECT_NE(std::string(h.GetLastError()).find("precision"), std::string::npos);

    // A header claiming far more pixels than the data can carry is refused before allocation.
    bad = jpeg;
    bad[sof + 5] = bad[sof + 7] = 0xFD;
    bad[sof + 6] = bad[sof + 8] = 0xE8; // 65000 x 65000
    EXPECT_FALSE(Decode(h, bad, FormatJpeg));
    EXPECT_STREQ(h.GetLastError(), "JPEG picture size doesn't fit its data");
}

TEST(ImageHolderDecode, EscapeCancelsJpegAndBmpDecodes)
{
    const Bytes jpeg = MakeJpeg({});
    const Bytes bmp = MakeBmp({});
    CImageHolder h;
    h.SetEscape(1);
    for (auto [data, format] : {std::pair{&jpeg, FormatJpeg}, std::pair{&bmp, FormatBmp}}) {
        EXPECT_FALSE(Decode(h, *data, format));
        EXPECT_STREQ(h.GetLastError(), "Cancelled");
        EXPECT_FALSE(h.IsValid());
    }
    h.SetEscape(0);
    EXPECT_TRUE(Decode(h, jpeg, FormatJpeg));
    EXPECT_TRUE(Decode(h, bmp, FormatBmp));
}

// Each scan walks the whole picture, so a frame of repeated scans costs its size times its area.
TEST(JpegDecode, ScansBeyondAnyCamerasAreRefused)
{
    const Bytes jpeg =
        MakeJpeg({.width = 64, .height = 64, .progressive = true}, [](int, int, int) { return 90; });
    size_t last = jpeg.size() - 2;
    while (!(jpeg[last] == 0xFF && jpeg[last + 1] == 0xDA))
        --last;
    for (auto [repeats, decodes] : {std::pair{50, true}, std::pair{300, false}}) {
        SCOPED_TRACE(repeats);
        Bytes frame(jpeg.begin(), jpeg.end() - 2);
        for (int i = 0; i < repeats; ++i)
            frame.insert(frame.end(), jpeg.begin() + long(last), jpeg.end() - 2);
        frame.insert(frame.end(), {0xFF, 0xD9});
        CImageHolder h;
        EXPECT_EQ(Decode(h, frame, FormatJpeg), decodes) << h.GetLastError();
        EXPECT_STREQ(h.GetLastError(), decodes ? "" : "JPEG picture has too many scans");
    }
}

TEST(JpegDecode, ResolutionComesFromExifThenJfif)
{
    struct Case
    {
        int unit, xd, yd;
        Bytes app1;
        long xDpi, yDpi;
        const char* lastError;
    };
    Bytes badAlign = MakeExif(300, 150, 2);
    badAlign[6] = 'X';
    const Case cases[] = {
        {2, 40, 20, {}, 102, 51, ""},  // dots per cm, rounded
        {1, 300, 72, {}, 300, 72, ""}, // dots per inch
        {0, 1, 2, {}, 1, 2, ""},       // aspect ratio only: taken as it is
        {1, 72, 72, MakeExif(300, 150, 2), 300, 150, ""},
        {1, 72, 72, MakeExif(300, 150, 2, true), 300, 150, ""},
        {1, 72, 72, MakeExif(100, 50, 3), 254, 127, ""}, // per cm
        {1, 72, 72, MakeExif(300, 150, 0), 72, 72, ""},  // no unit: Exif unused
        {1, 72, 72, badAlign, 72, 72, "Invalid Exif alignment marker."},
        {1, 72, 72, MakeExif(300, 150, 2, false, 9), 72, 72, "Undefined rotation value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xDpi);
        CImageHolder h;
        const Bytes jpeg = MakeJpeg({.width = 16,
                                     .height = 16,
                                     .densityUnit = c.unit,
                                     .xDensity = c.xd,
                                     .yDensity = c.yd,
                                     .app1 = c.app1});
        ASSERT_TRUE(Decode(h, jpeg, FormatJpeg)) << h.GetLastError();
        EXPECT_EQ(h.GetXDPI(), c.xDpi);
        EXPECT_EQ(h.GetYDPI(), c.yDpi);
        EXPECT_STREQ(h.GetLastError(), c.lastError);
    }
}

TEST(JpegExif, BrokenStructureIsReportedNotFollowed)
{
    ExifResolution r;
    auto parse = [&](const Bytes& t) { return Text(ParseExifTiff(t.data(), t.size(), r)); };
    EXPECT_EQ(parse({'I', 'I', 0x2B, 0, 8, 0, 0, 0}), "Invalid Exif start (1)");
    EXPECT_EQ(parse({'I', 'I', 0x2A, 0, 8, 0, 0, 0, 5, 0}), "Illegally sized directory");
    EXPECT_EQ(parse(MakeTiff({{0x011A, 13, 1, 0}}, false)), "Illegal format code in EXIF dir");
    EXPECT_EQ(parse(MakeTiff({{0x011A, 5, 1, 4000}}, true)),
              "Illegal pointer offset value in EXIF.");
    EXPECT_EQ(parse(MakeTiff({{0x011A, 5, 0x20000000, 8}}, false)), // size overflows 32 bits
              "Illegal pointer offset value in EXIF.");
    EXPECT_EQ(parse(MakeTiff({{0x8769, 4, 1, 9999}}, false)), "Illegal subdirectory link");
    EXPECT_EQ(parse(MakeTiff({{0x8769, 4, 1, 8}}, false)), "Illegal subdirectory link"); // loop
    EXPECT_EQ(parse(MakeTiff({{0x0128, 4, 1, 0xF0000000}}, false)), ""); // absurd unit: ignored
    EXPECT_EQ(r.unitScale, 0.0);

    auto scan = [&](const Bytes& jpeg) {
        CImageMemFile f(jpeg.data(), jpeg.size());
        return Text(ScanJpegExif(f, r));
    };
    EXPECT_EQ(scan({0xFF, 0xD8, 0xFF, 0xD9}), "No image in jpeg!\n");
    EXPECT_EQ(scan({0xFF, 0xD8, 0xFF, 0xFE, 0, 10, 1}), "Premature end of file?");
    EXPECT_EQ(scan({0xFF, 0xD8, 0xFF, 0xE1, 0, 10, 'E', 'x', 'i', 'f', 1, 0, 0, 0}),
              "Incorrect Exif header");
    Bytes padded = {0xFF, 0xD8};
    padded.resize(42, 0xFF);
    EXPECT_EQ(scan(padded), "too many padding bytes!");
    Bytes many = {0xFF, 0xD8};
    for (int i = 0; i < 200; ++i)
        many.insert(many.end(), {0xFF, 0xFE, 0, 2});
    EXPECT_EQ(scan(many), "Too many sections in jpg file");
}

TEST(JpegExif, EachDirectoryIsReadOnceAndTheEntriesAreBounded)
{
    // Little-endian TIFF whose directories, laid end to end, hold these entries.
    auto tiff = [](const std::vector<std::vector<IfdEntry>>& dirs) {
        Bytes t = {'I', 'I'};
        Put(t, 0x2A, 2);
        Put(t, 8, 4);
        for (const auto& dir : dirs) {
            Put(t, uint32_t(dir.size()), 2);
            for (const IfdEntry& e : dir) {
                Put(t, e.tag, 2);
                Put(t, e.format, 2);
                Put(t, e.count, 4);
                Put(t, e.value, 4);
            }
            Put(t, 0, 4);
        }
        return t;
    };
    auto offsetOf = [](const std::vector<size_t>& sizes, size_t dir) {
        size_t at = 8;
        for (size_t i = 0; i < dir; ++i)
            at += 2 + 12 * sizes[i] + 4;
        return uint32_t(at);
    };
    // Every entry of each level links to the next level: without a memory of where the walk has
    // been, the work is k to the power of the depth.
    const size_t k = 12;
    std::vector<size_t> chainSizes(5, k);
    std::vector<std::vector<IfdEntry>> chain(5);
    for (size_t level = 0; level < 5; ++level)
        for (size_t i = 0; i < k; ++i)
            chain[level].push_back(level < 4
                                       ? IfdEntry{0x8769, 4, 1, offsetOf(chainSizes, level + 1)}
                                       : IfdEntry{0x9999, 3, 1, 0});
    // Two large directories that are each sound but together hold more than a real file would.
    const std::vector<size_t> wideSizes = {2, 1100, 1100};
    std::vector<std::vector<IfdEntry>> wide = {
        {{0x8769, 4, 1, offsetOf(wideSizes, 1)}, {0xA005, 4, 1, offsetOf(wideSizes, 2)}},
        std::vector<IfdEntry>(1100, {0x9999, 3, 1, 0}),
        std::vector<IfdEntry>(1100, {0x9999, 3, 1, 0})};

    const struct
    {
        Bytes tiff;
        const char* error;
    } cases[] = {{tiff(chain), "Illegal subdirectory link"},
                 {tiff(wide), "Illegally sized directory"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        Bytes app1 = {'E', 'x', 'i', 'f', 0, 0};
        app1.insert(app1.end(), c.tiff.begin(), c.tiff.end());
        const Bytes jpeg = MakeJpeg({.width = 16, .height = 16, .app1 = app1});
        ExifResolution r;
        CImageMemFile f(jpeg.data(), jpeg.size());
        EXPECT_EQ(Text(ScanJpegExif(f, r)), c.error);
        EXPECT_LE(r.entriesRead, 2048u);
        // The picture itself still decodes, with the JFIF resolution.
        CImageHolder h;
        ASSERT_TRUE(Decode(h, jpeg, FormatJpeg));
        EXPECT_EQ(h.GetXDPI(), 72);
    }
}

// --- JPEG encoding -------------------------------------------------------------------------------

TEST(JpegEncode, WritesWhatLibjpegWritesAtTheHoldersQuality)
{
    // Smooth, so that what remains after a round trip is the quantisation, not ringing.
    auto smooth = [](int x, int y, int c) { return uint8_t(x * 2 + y + c * 30); };
    const JpegOptions o{.width = 64, .height = 48, .quality = 100};
    const Bytes source = MakeJpeg(o, smooth);
    CImageHolder h;
    ASSERT_TRUE(Decode(h, source, FormatJpeg));

    // The reference: the holder's own pixels, top row first, through libjpeg as RGB, with the
    // DPI the holder took from the source.
    auto held = [&](int x, int y, int c) { return HolderPixel(h, x, y)[2 - c]; };
    for (int quality : {90, 50}) {
        SCOPED_TRACE(quality);
        if (quality != 90)
            h.SetJpegQuality(static_cast<uint8_t>(quality));
        JpegOptions ref = o;
        ref.quality = quality;
        bool ok = false;
        const Bytes written = EncodeToMemory(h, FormatJpeg, &ok);
        ASSERT_TRUE(ok) << h.GetLastError();
        EXPECT_EQ(written, MakeJpeg(ref, held));
    }

    // Read back: top row first and within JPEG error of what was held.
    bool ok = false;
    h.SetJpegQuality(90);
    const Reference back = ReadJpeg(EncodeToMemory(h, FormatJpeg, &ok));
    const Reference decoded = ReadJpeg(source);
    double error = 0;
    for (size_t i = 0; i < back.pixels.size(); ++i)
        error += std::abs(int(back.pixels[i]) - int(decoded.pixels[i]));
    EXPECT_LT(error / back.pixels.size(), 1.0);
}

TEST(JpegEncode, OnlyRgbAndGreyPicturesCanBeSaved)
{
    CImageHolder h;
    bool ok = true;
    EncodeToMemory(h, FormatJpeg, &ok);
    EXPECT_FALSE(ok); // nothing held

    ASSERT_NE(h.Create(8, 8, 4), nullptr);
    EncodeToMemory(h, FormatJpeg, &ok);
    EXPECT_FALSE(ok);
    EXPECT_STREQ(h.GetLastError(), "JPEG can save only RGB or GreyScale images");
    EncodeToMemory(h, static_cast<ImageFormat>(3), &ok);
    EXPECT_FALSE(ok);
    EXPECT_STREQ(h.GetLastError(), "Encode: Unknown format");

    ASSERT_NE(h.Create(8, 8, 8), nullptr); // zeroed palette: not grey
    EncodeToMemory(h, FormatJpeg, &ok);
    EXPECT_FALSE(ok);

    uint8_t* pal = h.GetDIB() + 40;
    for (int i = 0; i < 256; ++i)
        pal[4 * i] = pal[4 * i + 1] = pal[4 * i + 2] = static_cast<uint8_t>(i);
    for (uint32_t i = 0; i < 64; ++i)
        h.GetBits()[i] = static_cast<uint8_t>(i * 4);
    const Reference grey = ReadJpeg(EncodeToMemory(h, FormatJpeg, &ok));
    ASSERT_TRUE(ok) << h.GetLastError();
    EXPECT_EQ(grey.components, 1);
    EXPECT_NEAR(grey.pixels[0], 7 * 32, 3); // top picture row is the last block row
}

TEST(JpegEncode, SaveToFileWritesAJpegOrFailsOnThePath)
{
    CImageHolder h;
    ASSERT_TRUE(Decode(h, MakeJpeg({}), FormatJpeg));
    const std::string path = ::testing::TempDir() + "image_holder_save.jpg";
    ASSERT_TRUE(h.SaveToFile(path.c_str(), FormatJpeg)) << h.GetLastError();
    CImageHolder back;
    CImageIOFile file;
    ASSERT_TRUE(file.Open(path.c_str(), "rb"));
    EXPECT_TRUE(back.Decode(file, FormatUnknown)) << back.GetLastError(); // BMP tried first
    EXPECT_EQ(back.GetType(), FormatJpeg);
    EXPECT_EQ(back.GetWidth(), 320u);
    std::remove(path.c_str());
    EXPECT_FALSE(h.SaveToFile("/nonexistent-dir/x.jpg", FormatJpeg));
}

// --- BMP decoding and encoding -------------------------------------------------------------------

TEST(BmpDecode, HeaderlessDibEqualsTheSameDataBehindAFileHeader)
{
    CImageHolder withHeader, bare;
    ASSERT_TRUE(Decode(withHeader, MakeBmp({.width = 5, .height = 3}), FormatBmp));
    const Bytes dib = MakeBmp({.fileHeader = false, .width = 5, .height = 3});
    ASSERT_TRUE(Decode(bare, dib, FormatBmp)) << bare.GetLastError();
    ASSERT_EQ(bare.GetEffWidth(), 16u);
    EXPECT_EQ(std::memcmp(bare.GetDIB(), withHeader.GetDIB(), 40 + 16 * 3), 0);
    EXPECT_EQ(std::memcmp(bare.GetBits(), dib.data() + 40, 16 * 3), 0); // rows as stored
    EXPECT_EQ(bare.GetXDPI(), 96);
    EXPECT_EQ(bare.GetType(), FormatBmp);
}

TEST(BmpDecode, ZeroPelsPerMeterGivesZeroDpiAndAJpegWithDensityZero)
{
    CImageHolder h;
    ASSERT_TRUE(Decode(h, MakeBmp({.ppm = 0}), FormatBmp));
    EXPECT_EQ(h.GetXDPI(), 0);
    EXPECT_EQ(h.GetYDPI(), 0);
    bool ok = false;
    const Reference r = ReadJpeg(EncodeToMemory(h, FormatJpeg, &ok));
    ASSERT_TRUE(ok);
    EXPECT_EQ(r.densityUnit, 1);
    EXPECT_EQ(r.xDensity, 0);
    EXPECT_EQ(r.yDensity, 0);

    ASSERT_TRUE(Decode(h, MakeBmp({.ppm = 2835}), FormatBmp));
    EXPECT_EQ(h.GetXDPI(), 72);
}

TEST(BmpDecode, PalettesHeaderFormsAndPixelOffset)
{
    // Core header: 3-byte palette entries, stored as 4-byte ones with a zero fourth byte.
    CImageHolder h;
    ASSERT_TRUE(
        Decode(h, MakeBmp({.headerSize = 12, .bitCount = 8, .paletteEntries = 256}), FormatBmp))
        << h.GetLastError();
    EXPECT_EQ(Le32(h.GetDIB() + 40 + 4 * 9), 9u | 27u << 8 | 246u << 16);
    EXPECT_EQ(h.GetBits()[0], 1);
    EXPECT_EQ(h.GetXDPI(), 0); // the core header has no resolution

    // A short colour count: only those entries are read and the pixels follow them.
    ASSERT_TRUE(
        Decode(h, MakeBmp({.bitCount = 4, .colorsUsed = 2, .paletteEntries = 2}), FormatBmp))
        << h.GetLastError();
    EXPECT_EQ(h.GetNumColors(), 16u);
    EXPECT_EQ(Le32(h.GetDIB() + 40 + 4), 1u | 3u << 8 | 254u << 16);
    EXPECT_EQ(Le32(h.GetDIB() + 40 + 8), 0u);
    EXPECT_EQ(h.GetBits()[0], 1);

    // Pixel offset past a gap; and the 64-byte and a longer plain header, extra bytes skipped.
    for (uint32_t size : {40u, 64u, 108u}) {
        SCOPED_TRACE(size);
        const BmpOptions o{.headerSize = size, .bitCount = 1, .paletteEntries = 2, .gap = 9};
        ASSERT_TRUE(Decode(h, MakeBmp(o), FormatBmp)) << h.GetLastError();
        EXPECT_EQ(h.GetBits()[0], 1);
        EXPECT_EQ(h.GetBits()[4], 1 + 7 * 4);
        EXPECT_EQ(h.GetDIB()[40 + 4 + 2], 254);
    }
}

TEST(BmpDecode, HostileHeadersAreRefusedAndHoldNothing)
{
    struct Case
    {
        BmpOptions bmp;
        const char* message;
        size_t cut = 0;
    };
    const char* info = "Error reading BMP info";
    const Case cases[] = {
        {{}, "BMP pixel data is cut short", 3},
        {{.width = 1000000, .height = 1000000, .pixels = Bytes(64, 1)},
         "BMP pixel data is cut short"}, // refused before the block is allocated
        {{.headerSize = 108, .sizeImage = 0}, info},
        {{.headerSize = 124, .compression = 3}, info},
        {{.headerSize = 20}, info},
        {{.bitCount = 8, .colorsUsed = 300, .paletteEntries = 300}, info},
        {{.bitCount = 8, .colorsUsed = 200, .pixels = Bytes(8, 0)}, info}, // palette past the end
        {{.bitCount = 2}, info},
        {{.width = 0}, info},
        {{.bitCount = 8, .compression = 1}, "compression type not supported"},
        {{.compression = 9}, "unknown compression"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        Bytes bmp = MakeBmp(c.bmp);
        bmp.resize(bmp.size() - c.cut);
        CImageHolder h;
        ASSERT_NE(h.Create(4, 4, 24), nullptr);
        EXPECT_FALSE(Decode(h, bmp, FormatBmp));
        EXPECT_STREQ(h.GetLastError(), c.message);
        EXPECT_FALSE(h.IsValid());
    }

    Bytes bmp = MakeBmp({});
    bmp[10] = 0xFF; // pixel offset far past the end
    CImageHolder h;
    EXPECT_FALSE(Decode(h, bmp, FormatBmp));
    EXPECT_FALSE(Decode(h, Bytes(13, 'B'), FormatBmp));
    EXPECT_STREQ(h.GetLastError(), "Not a BMP");
}

TEST(BmpDecode, DeepAndTopDownPixelsBecomeBottomUp24Bit)
{
    CImageHolder h;
    auto first = [&](size_t n) { return Bytes(h.GetBits(), h.GetBits() + n); };
    // 5-5-5: white, pure red.
    ASSERT_TRUE(Decode(
        h, MakeBmp({.width = 2, .height = 1, .bitCount = 16, .pixels = {0xFF, 0x7F, 0x00, 0x7C}}),
        FormatBmp))
        << h.GetLastError();
    ASSERT_EQ(h.GetBpp(), 24u);
    EXPECT_EQ(first(6), (Bytes{255, 255, 255, 0, 0, 255}));

    // 5-6-5 by bit fields, past a colour table that is only skipped: pure green, pure blue.
    const BmpOptions fields{.width = 2,
                            .height = 1,
                            .bitCount = 16,
                            .compression = 3,
                            .colorsUsed = 3,
                            .paletteEntries = 3,
                            .masks = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0},
                            .pixels = {0xE0, 0x07, 0x1F, 0x00}};
    ASSERT_TRUE(Decode(h, MakeBmp(fields), FormatBmp)) << h.GetLastError();
    EXPECT_EQ(first(6), (Bytes{0, 255, 0, 255, 0, 0}));

    // Top-down 32-bit: the first stored row is the top one.
    ASSERT_TRUE(Decode(
        h,
        MakeBmp(
            {.width = 1, .height = -2, .bitCount = 32, .pixels = {1, 2, 3, 0xFF, 4, 5, 6, 0xFF}}),
        FormatBmp))
        << h.GetLastError();
    ASSERT_EQ(h.GetHeight(), 2u);
    EXPECT_EQ(first(8), (Bytes{4, 5, 6, 0, 1, 2, 3, 0}));
}

TEST(BmpEncode, RoundTripKeepsTheBlockAndResolution)
{
    for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
        SCOPED_TRACE(bpp);
        CImageHolder h;
        ASSERT_NE(h.Create(13, 5, bpp), nullptr);
        const size_t block = 40 + 4 * h.GetNumColors() + h.GetEffWidth() * 5;
        for (size_t i = 40; i < block; ++i)
            h.GetDIB()[i] = static_cast<uint8_t>(i * 13);
        for (size_t i = 0; i < h.GetNumColors(); ++i)
            h.GetDIB()[40 + 4 * i + 3] = 0;
        bool ok = false;
        const Bytes bmp = EncodeToMemory(h, FormatBmp, &ok);
        ASSERT_TRUE(ok);
        CImageHolder back;
        ASSERT_TRUE(Decode(back, bmp, FormatUnknown)) << back.GetLastError();
        EXPECT_EQ(back.GetType(), FormatBmp);
        EXPECT_EQ(std::memcmp(back.GetDIB(), h.GetDIB(), block), 0);
        EXPECT_EQ(back.GetXDPI(), 96);
    }
}

TEST(ImageHolderDecode, FormatSelectsTheDecoder)
{
    CImageHolder h;
    const Bytes jpeg = MakeJpeg({});
    ASSERT_TRUE(Decode(h, jpeg, FormatJpeg));
    EXPECT_FALSE(Decode(h, jpeg, static_cast<ImageFormat>(3)));
    EXPECT_STREQ(h.GetLastError(), "Decode: Unknown or wrong format");
    EXPECT_FALSE(h.IsValid());

    ASSERT_TRUE(Decode(h, jpeg, FormatUnknown)) << h.GetLastError();
    EXPECT_EQ(h.GetType(), FormatJpeg);
    EXPECT_STREQ(h.GetLastError(), ""); // the failed BMP attempt leaves no complaint
    EXPECT_FALSE(Decode(h, jpeg, FormatBmp));
    EXPECT_FALSE(Decode(h, MakeBmp({}), FormatJpeg));
    EXPECT_FALSE(Decode(h, Bytes(100, 0x42), FormatUnknown));
    EXPECT_FALSE(h.IsValid());
}
