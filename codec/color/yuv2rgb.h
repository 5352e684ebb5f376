/* Planar YUV 4:2:0 to 24-bit bottom-up blue-green-red pixels, by the table arithmetic of
 * BT.601 studio range in 16.16 fixed point. */
#ifndef CAMCTL_CODEC_COLOR_YUV2RGB_H
#define CAMCTL_CODEC_COLOR_YUV2RGB_H

#ifdef __cplusplus
extern "C" {
#endif

/* The process-wide tables. They are immutable and built once, so one user's delete never takes
 * them from another: the calls keep their meaning as a count of users. */
void init_YUV2RGB_tab(void);
void delete_YUV2RGB_tab(void);

/* `yuv`: Y (width x height), then U, then V ((width/2) x (height/2) each). `rgb`: width x height
 * x 3 bytes, the last row the picture's top. Sizes the conversion cannot do (a height that is
 * odd or below 1, a width that is not a positive multiple of 4) write nothing. */
void ConvertYUVtoRGB(unsigned char* yuv, unsigned char* rgb, int width, int height);

#ifdef __cplusplus
}
#endif

/* The modules' own C++ side; not exported. */
#if defined(__cplusplus) && defined(CAMCTL_INTERNAL_API)
#include <cstdint>
#include <memory>

// The viewer's converter: its own tables for the life of one stream.
class CYuvConverter
{
public:
    CYuvConverter();
    ~CYuvConverter();
    // False when the tables cannot be had.
    bool BuildTables();
    void FreeTables();
    bool HasTables() const { return m_tables != nullptr; }
    // 1 when converted; 0 for a size the conversion cannot do, or without tables.
    int Convert(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int width,
                int height) const;
    // The same from planes with rows `*Stride` bytes apart.
    int Convert(const uint8_t* y, int yStride, const uint8_t* u, int uStride, const uint8_t* v,
                int vStride, uint8_t* out, int width, int height) const;

    struct Tables;

private:
    std::unique_ptr<Tables> m_tables;
};

// ConvertYUVtoRGB from planes with rows `*Stride` bytes apart; 1 when converted, 0 for a size
// it cannot do.
int ConvertYUVtoRGBPlanes(const uint8_t* y, int yStride, const uint8_t* u, int uStride,
                          const uint8_t* v, int vStride, uint8_t* rgb, int width, int height);

// The table arithmetic, for checking faster paths: one pixel's blue, green and red.
void Yuv2RgbReference(int y, int u, int v, uint8_t bgr[3]);
#endif

#endif
