#include "codec/color/yuv2rgb.h"
#include "codec/color/yuv2rgb_simd.h"

#include <atomic>
#include <cstring>
#include <new>

struct CYuvConverter::Tables
{
    int32_t yTerm[256];
    int32_t vRed[256];
    int32_t uBlue[256];
    int32_t uGreen[256];
    int32_t vGreen[256];
    uint8_t clampStore[1024]; // index -384 .. 639
    const uint8_t* clamp;     // clampStore + 384

    Tables()
    {
        for (int j = 0; j < 256; ++j) {
            yTerm[j] = (j - 16) * 76309;
            vRed[j] = (j - 128) * 104597;
            uBlue[j] = (j - 128) * 132201;
            uGreen[j] = (j - 128) * 25675;
            vGreen[j] = (j - 128) * 53279;
        }
        for (int i = -384; i < 640; ++i)
            clampStore[i + 384] = uint8_t(i < 0 ? 0 : i > 255 ? 255 : i);
        clamp = clampStore + 384;
    }
};

namespace {

using Tables = CYuvConverter::Tables;

const Tables& SharedTables()
{
    static const Tables tables;
    return tables;
}

std::atomic<int> g_users{0};

bool SizeSupported(int width, int height)
{
    return width > 0 && width % 4 == 0 && height > 0 && height % 2 == 0;
}

inline void Pixel(const Tables& t, int y, int u, int v, uint8_t* out)
{
    const int32_t yt = t.yTerm[y];
    out[0] = t.clamp[(yt + t.uBlue[u]) >> 16];
    out[1] = t.clamp[(yt - t.vGreen[v] - t.uGreen[u]) >> 16];
    out[2] = t.clamp[(yt + t.vRed[v]) >> 16];
}

void Convert(const Tables& t, const uint8_t* yPlane, size_t yStride, const uint8_t* uPlane,
             size_t uStride, const uint8_t* vPlane, size_t vStride, uint8_t* rgb, int width,
             int height)
{
    const yuv2rgb::RowPairKernel kernel = yuv2rgb::KernelFor(yuv2rgb::Current());
    const size_t rowBytes = size_t(width) * 3;
    for (int k = 0; k < height / 2; ++k) {
        const uint8_t* y0 = yPlane + size_t(2 * k) * yStride;
        const uint8_t* y1 = y0 + yStride;
        const uint8_t* u = uPlane + size_t(k) * uStride;
        const uint8_t* v = vPlane + size_t(k) * vStride;
        uint8_t* out0 = rgb + size_t(height - 1 - 2 * k) * rowBytes;
        uint8_t* out1 = rgb + size_t(height - 2 - 2 * k) * rowBytes;
        const int done = kernel ? kernel(y0, y1, u, v, out0, out1, width) : 0;
        for (int x = done; x < width; x += 2) {
            const int cu = u[x / 2], cv = v[x / 2];
            Pixel(t, y0[x], cu, cv, out0 + size_t(x) * 3);
            Pixel(t, y0[x + 1], cu, cv, out0 + size_t(x + 1) * 3);
            Pixel(t, y1[x], cu, cv, out1 + size_t(x) * 3);
            Pixel(t, y1[x + 1], cu, cv, out1 + size_t(x + 1) * 3);
        }
    }
}

} // namespace

namespace yuv2rgb {

const char* LevelName(Level level)
{
    switch (level) {
    case Level::Tables:
        return "tables";
    case Level::Sse2:
        return "sse2";
    case Level::Ssse3:
        return "ssse3";
    case Level::Avx2:
        return "avx2";
    }
    return "?";
}

bool Supported(Level level)
{
#ifdef CAMCTL_YUV2RGB_X86
    __builtin_cpu_init();
    switch (level) {
    case Level::Tables:
        return true;
    case Level::Sse2:
        return __builtin_cpu_supports("sse2");
    case Level::Ssse3:
        return __builtin_cpu_supports("ssse3");
    case Level::Avx2:
        return __builtin_cpu_supports("avx2");
    }
    return false;
#else
    return level == Level::Tables;
#endif
}

Level Best()
{
    for (Level level : {Level::Avx2, Level::Ssse3, Level::Sse2})
        if (Supported(level))
            return level;
    return Level::Tables;
}

namespace {
std::atomic<Level>& Chosen()
{
    static std::atomic<Level> level{Best()};
    return level;
}
} // namespace

Level Current()
{
    return Chosen().load(std::memory_order_relaxed);
}

bool Force(Level level)
{
    if (!Supported(level))
        return false;
    Chosen().store(level, std::memory_order_relaxed);
    return true;
}

RowPairKernel KernelFor(Level level)
{
    switch (level) {
#ifdef CAMCTL_YUV2RGB_X86
    case Level::Sse2:
        return RowPairSse2;
    case Level::Ssse3:
        return RowPairSsse3;
    case Level::Avx2:
        return RowPairAvx2;
#endif
    default:
        return nullptr;
    }
}

} // namespace yuv2rgb

extern "C" void init_YUV2RGB_tab(void)
{
    SharedTables();
    g_users.fetch_add(1);
}

extern "C" void delete_YUV2RGB_tab(void)
{
    int users = g_users.load();
    while (users > 0 && !g_users.compare_exchange_weak(users, users - 1)) {
    }
}

extern "C" void ConvertYUVtoRGB(unsigned char* yuv, unsigned char* rgb, int width, int height)
{
    if (!yuv || !rgb || !SizeSupported(width, height))
        return;
    const size_t luma = size_t(width) * size_t(height);
    Convert(SharedTables(), yuv, size_t(width), yuv + luma, size_t(width / 2), yuv + luma + luma / 4,
            size_t(width / 2), rgb, width, height);
}

int ConvertYUVtoRGBPlanes(const uint8_t* y, int yStride, const uint8_t* u, int uStride,
                          const uint8_t* v, int vStride, uint8_t* rgb, int width, int height)
{
    if (!y || !u || !v || !rgb || !SizeSupported(width, height) || yStride < width ||
        uStride < width / 2 || vStride < width / 2)
        return 0;
    Convert(SharedTables(), y, size_t(yStride), u, size_t(uStride), v, size_t(vStride), rgb, width,
            height);
    return 1;
}

void Yuv2RgbReference(int y, int u, int v, uint8_t bgr[3])
{
    Pixel(SharedTables(), y, u, v, bgr);
}

CYuvConverter::CYuvConverter() = default;
CYuvConverter::~CYuvConverter() = default;

bool CYuvConverter::BuildTables()
{
    if (!m_tables)
        m_tables.reset(new (std::nothrow) Tables());
    return m_tables != nullptr;
}

void CYuvConverter::FreeTables()
{
    m_tables.reset();
}

int CYuvConverter::Convert(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out,
                           int width, int height) const
{
    return Convert(y, width, u, width / 2, v, width / 2, out, width, height);
}

int CYuvConverter::Convert(const uint8_t* y, int yStride, const uint8_t* u, int uStride,
                           const uint8_t* v, int vStride, uint8_t* out, int width, int height) const
{
    if (!m_tables || !y || !u || !v || !out || !SizeSupported(width, height) || yStride < width ||
        uStride < width / 2 || vStride < width / 2)
        return 0;
    ::Convert(*m_tables, y, size_t(yStride), u, size_t(uStride), v, size_t(vStride), out, width,
              height);
    return 1;
}
