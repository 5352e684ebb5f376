// The MPEG-4 painter's work per 640 x 480 picture of the simulator's ASF stream (decode with
// this decoder, convert with the tables, copy into the drawing surface) against libavcodec's
// decode followed by libswscale's conversion to the same pixels, side by side in one run.

#include "bench/bench_timing.h"
#include "camsim/asf_stream.h"
#include "codec/color/yuv2rgb.h"
#include "codec/mpeg4/decoder.h"
#include "stream/asf_parser.h"
#include "stream/frame_chain.h"
#include "tests/codec/mpeg4_reference.h"
#include "viewer/draw_surface.h"

#include <cstdio>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace {

struct Collect : IAsfParserEvents
{
    std::vector<uint8_t> config;
    void PrepareVideo(int, int, const uint8_t* c, size_t n) override { config.assign(c, c + n); }
    bool StartAudio(int, int) override { return false; }
    int VideoCap() const override { return 1000; }
};

} // namespace

int main()
{
    camsim::AsfStreamOptions options;
    options.width = 640;
    options.height = 480;
    options.audioCodeSize = 0;
    const std::string stream = camsim::RecordAsfStream(options, 60);
    CFrameChain video, audio;
    Collect events;
    CAsfParser parser(kViewerAsfProfile, video, &audio, events);
    parser.Reset();
    const auto* bytes = reinterpret_cast<const uint8_t*>(stream.data());
    const size_t rest = parser.CheckPreamble(bytes);
    parser.ParseHeader(bytes + kAsfPreambleSize, rest);
    for (size_t at = kAsfPreambleSize + rest + kAsfDataHeaderSize;
         at + parser.PacketSize() <= stream.size(); at += parser.PacketSize())
        parser.ParsePacket(bytes + at);
    std::vector<std::vector<uint8_t>> frames;
    uint8_t* data;
    int32_t size;
    uint32_t ts;
    while (FrameChainNode* node = video.Remove(&data, &size, &ts)) {
        frames.emplace_back(data, data + size);
        FreeFrame(node);
    }
    if (frames.empty())
        return 1;
    frames.front().insert(frames.front().begin(), events.config.begin(), events.config.end());

    const int w = 640, h = 480;
    std::vector<uint8_t> out(size_t(6) * 1024 * 768), rgb(size_t(w) * h * 3);
    CYuvConverter converter;
    converter.BuildTables();
    CDrawSurface surface;
    SwsContext* ctx = sws_getContext(w, h, AV_PIX_FMT_YUV420P, w, h, AV_PIX_FMT_BGR24, SWS_POINT,
                                     nullptr, nullptr, nullptr);
    auto painter = [&] {
        DECODER* dec = decoder_create();
        for (const auto& f : frames) {
            int used = 0;
            const int result = decoder_decode_sized(dec, out.data(), f.data(), f.size(), &used);
            dec->postfilter_on = 0; // as the painter does: only its first picture is filtered
            if (result != 0)
                continue;
            const size_t luma = size_t(w) * h;
            converter.Convert(out.data(), out.data() + luma, out.data() + luma + luma / 4,
                              rgb.data(), w, h);
            surface.Draw(rgb.data(), w, h, w * 3, {0, 0, w, h}, {146, 3, w, h});
        }
        decoder_destroy(dec);
    };
    auto reference = [&] {
        mpeg4test::ReferenceDecoder ref;
        std::vector<mpeg4test::Picture> pictures;
        for (const auto& f : frames) {
            pictures.clear();
            int n = 0;
            ref.decode(f.data(), f.size(), &pictures, &n);
            for (const auto& p : pictures) {
                const uint8_t* src[3] = {p.yuv.data(), p.yuv.data() + w * h,
                                         p.yuv.data() + w * h * 5 / 4};
                const int srcStride[3] = {w, w / 2, w / 2};
                uint8_t* dst[1] = {rgb.data() + size_t(h - 1) * w * 3};
                const int dstStride[1] = {-w * 3};
                sws_scale(ctx, src, srcStride, 0, h, dst, dstStride);
            }
        }
    };
    const auto best = bench::FastestRounds({painter, reference}, 7);
    const double n = double(frames.size());
    std::printf("pictures: %zu at 640x480\n", frames.size());
    std::printf("painter path (decode, tables, surface): %.0f pictures/s\n", n / best[0]);
    std::printf("libavcodec + libswscale:                 %.0f pictures/s\n", n / best[1]);
    std::printf("painter rate / libavcodec+libswscale rate: %.3f\n", best[1] / best[0]);
    sws_freeContext(ctx);
    return 0;
}
