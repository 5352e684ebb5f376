// 640 x 480 planar 4:2:0 to 24-bit blue-green-red, bottom-up: the table conversion against
// libyuv and libswscale to the same byte order, with a copy of the output size as the floor.

#include "bench/bench_timing.h"
#include "codec/color/yuv2rgb.h"

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include <libyuv.h>
extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

int main()
{
    const int w = 640, h = 480, frames = 50;
    std::vector<uint8_t> yuv(size_t(w) * h * 3 / 2);
    std::mt19937 rng(3);
    for (size_t i = 0; i < yuv.size(); ++i)
        yuv[i] = uint8_t(16 + (i * 7 + rng() % 9) % 220);
    const uint8_t* y = yuv.data();
    const uint8_t* u = y + w * h;
    const uint8_t* v = u + w * h / 4;
    std::vector<uint8_t> ours(size_t(w) * h * 3), yuvlib(ours.size()), sws(ours.size()), copy(ours.size());

    init_YUV2RGB_tab();
    SwsContext* ctx = sws_getContext(w, h, AV_PIX_FMT_YUV420P, w, h, AV_PIX_FMT_BGR24, SWS_POINT,
                                     nullptr, nullptr, nullptr);
    if (!ctx)
        return 1;
    auto tables = [&] {
        for (int i = 0; i < frames; ++i)
            ConvertYUVtoRGB(const_cast<uint8_t*>(y), ours.data(), w, h);
    };
    auto libyuv = [&] {
        // Negative height: bottom-up, as the painters want it.
        for (int i = 0; i < frames; ++i)
            libyuv::I420ToRGB24(y, w, u, w / 2, v, w / 2, yuvlib.data(), w * 3, w, -h);
    };
    auto swscale = [&] {
        for (int i = 0; i < frames; ++i) {
            const uint8_t* src[3] = {y, u, v};
            const int srcStride[3] = {w, w / 2, w / 2};
            uint8_t* dst[1] = {sws.data() + size_t(h - 1) * w * 3};
            const int dstStride[1] = {-w * 3};
            sws_scale(ctx, src, srcStride, 0, h, dst, dstStride);
        }
    };
    auto floor = [&] {
        for (int i = 0; i < frames; ++i)
            std::memcpy(copy.data(), ours.data(), copy.size());
    };
    const auto best = bench::FastestRounds({tables, libyuv, swscale, floor}, 15);
    const char* names[] = {"tables", "libyuv", "libswscale", "memcpy"};
    for (int i = 0; i < 4; ++i)
        std::printf("%-11s %8.0f frames/s\n", names[i], frames / best[size_t(i)]);
    std::printf("tables / libyuv rate: %.3f   tables / libswscale rate: %.3f\n", best[1] / best[0],
                best[2] / best[0]);
    int differ = 0;
    for (size_t i = 0; i < ours.size(); ++i)
        differ += std::abs(int(ours[i]) - int(yuvlib[i])) > 1;
    std::printf("bytes where libyuv differs from the tables by more than 1: %d of %zu\n", differ,
                ours.size());
    sws_freeContext(ctx);
    delete_YUV2RGB_tab();
    return 0;
}
