// 640 x 480 planar 4:2:0 to 24-bit blue-green-red, bottom-up: each level of the conversion (the
// fastest is what callers get, the tables are what it must equal) against libyuv and libswscale
// to the same byte order, with a copy of the output size as the floor.

#include "bench/bench_timing.h"
#include "codec/color/yuv2rgb.h"
#include "codec/color/yuv2rgb_simd.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <libyuv.h>
extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

int main()
{
    // Short rounds, many of them: on a busy machine some round of each runs undisturbed.
    const int w = 640, h = 480, frames = 20;
    std::vector<uint8_t> yuv(size_t(w) * h * 3 / 2);
    std::mt19937 rng(3);
    for (size_t i = 0; i < yuv.size(); ++i)
        yuv[i] = uint8_t(16 + (i * 7 + rng() % 9) % 220);
    const uint8_t* y = yuv.data();
    const uint8_t* u = y + w * h;
    const uint8_t* v = u + w * h / 4;
    const size_t outSize = size_t(w) * h * 3;
    std::vector<uint8_t> yuvlib(outSize), sws(outSize), copy(outSize);

    init_YUV2RGB_tab();
    SwsContext* ctx = sws_getContext(w, h, AV_PIX_FMT_YUV420P, w, h, AV_PIX_FMT_BGR24, SWS_POINT,
                                     nullptr, nullptr, nullptr);
    if (!ctx)
        return 1;

    using yuv2rgb::Level;
    const Level best = yuv2rgb::Best();
    std::vector<std::string> names;
    std::vector<std::function<void()>> contenders;
    std::vector<std::vector<uint8_t>> outputs; // one per level, to check they equal the tables
    std::vector<Level> levels;
    for (Level level : {Level::Avx2, Level::Ssse3, Level::Sse2, Level::Tables}) {
        if (!yuv2rgb::Supported(level))
            continue;
        levels.push_back(level);
        names.push_back(std::string(yuv2rgb::LevelName(level)) + (level == best ? " (used)" : ""));
        outputs.emplace_back(outSize);
    }
    for (size_t i = 0; i < levels.size(); ++i)
        contenders.push_back([&, i] {
            yuv2rgb::Force(levels[i]);
            for (int f = 0; f < frames; ++f)
                ConvertYUVtoRGB(const_cast<uint8_t*>(y), outputs[i].data(), w, h);
        });
    const size_t nLevels = levels.size(), tables = nLevels - 1;
    names.insert(names.end(), {"libyuv", "libswscale", "memcpy"});
    contenders.push_back([&] {
        // Negative height: bottom-up, as the painters want it.
        for (int i = 0; i < frames; ++i)
            libyuv::I420ToRGB24(y, w, u, w / 2, v, w / 2, yuvlib.data(), w * 3, w, -h);
    });
    contenders.push_back([&] {
        for (int i = 0; i < frames; ++i) {
            const uint8_t* src[3] = {y, u, v};
            const int srcStride[3] = {w, w / 2, w / 2};
            uint8_t* dst[1] = {sws.data() + size_t(h - 1) * w * 3};
            const int dstStride[1] = {-w * 3};
            sws_scale(ctx, src, srcStride, 0, h, dst, dstStride);
        }
    });
    contenders.push_back([&] {
        for (int i = 0; i < frames; ++i)
            std::memcpy(copy.data(), outputs[0].data(), copy.size());
    });

    const auto fastest = bench::FastestRounds(contenders, 40);
    yuv2rgb::Force(best);
    const double libyuvRate = frames / fastest[nLevels];
    std::printf("%-14s %9s %10s %10s\n", "path", "frames/s", "/ libyuv", "/ tables");
    for (size_t i = 0; i < contenders.size(); ++i) {
        const double rate = frames / fastest[i];
        std::printf("%-14s %9.0f %10.3f %10.3f\n", names[i].c_str(), rate, rate / libyuvRate,
                    fastest[tables] / fastest[i]);
    }
    std::printf("used path / libyuv rate: %.3f   used path / libswscale rate: %.3f\n",
                fastest[nLevels] / fastest[0], fastest[nLevels + 1] / fastest[0]);
    for (size_t i = 0; i < tables; ++i) {
        size_t differ = 0;
        for (size_t b = 0; b < outSize; ++b)
            differ += outputs[i][b] != outputs[tables][b];
        std::printf("bytes where %s differs from the tables: %zu\n", yuv2rgb::LevelName(levels[i]),
                    differ);
    }
    int differ = 0;
    for (size_t i = 0; i < outSize; ++i)
        differ += std::abs(int(outputs[tables][i]) - int(yuvlib[i])) > 1;
    std::printf("bytes where libyuv differs from the tables by more than 1: %d of %zu\n", differ,
                outSize);
    sws_freeContext(ctx);
    delete_YUV2RGB_tab();
    return 0;
}
