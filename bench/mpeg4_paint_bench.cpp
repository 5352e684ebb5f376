// The MPEG-4 painter's work per 640 x 480 picture of the simulator's ASF stream (decode with
// this decoder, convert with the tables, copy into the drawing surface) against libavcodec's
// decode followed by libswscale's conversion to the same pixels, side by side in one run.

#include "bench/bench_timing.h"
#include "camsim/asf_stream.h"
#include "codec/color/yuv2rgb.h"
#include "codec/mpeg4/decoder.h"
#include "codec/mpeg4/picture_path.h"
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

    const int w = 640, h = 480;
    std::vector<uint8_t> rgb(size_t(w) * h * 3);
    CDrawSurface surface;
    SwsContext* ctx = sws_getContext(w, h, AV_PIX_FMT_YUV420P, w, h, AV_PIX_FMT_BGR24, SWS_POINT,
                                     nullptr, nullptr, nullptr);
    // What the painter does with each frame: its picture path (configuration in front of the
    // first frame, decoding, conversion straight from the decoder's planes), then the surface.
    CMpeg4PicturePath path(kViewerPictureProfile);
    auto painter = [&] {
        path.Open(events.config.data(), events.config.size());
        for (const auto& f : frames)
            if (path.Decode(f.data(), f.size()) == CMpeg4PicturePath::Outcome::Picture)
                surface.Draw(path.Rgb(), path.Width(), path.Height(), path.Width() * 3, {0, 0, w, h},
                             {146, 3, w, h});
        path.Close();
    };
    // libavcodec's pictures converted where libavcodec keeps them.
    auto reference = [&] {
        mpeg4test::ReferenceDecoder ref;
        bool first = true;
        for (const auto& f : frames) {
            std::vector<uint8_t> call;
            const uint8_t* data = f.data();
            size_t size = f.size();
            if (first) {
                call = events.config;
                call.insert(call.end(), f.begin(), f.end());
                data = call.data();
                size = call.size();
                first = false;
            }
            ref.decode(data, size, [&](const uint8_t* const plane[3], const int stride[3], int, int) {
                uint8_t* dst[1] = {rgb.data() + size_t(h - 1) * w * 3};
                const int dstStride[1] = {-w * 3};
                sws_scale(ctx, plane, stride, 0, h, dst, dstStride);
            });
        }
    };
    const auto best = bench::FastestRoundsCpu({painter, reference}, 9);
    const double n = double(frames.size());
    std::printf("pictures: %zu at 640x480 (CPU time of this thread, best of 9 interleaved rounds)\n",
                frames.size());
    std::printf("painter path (decode, conversion, surface): %.0f pictures/s\n", n / best[0]);
    std::printf("libavcodec + libswscale:                    %.0f pictures/s\n", n / best[1]);
    std::printf("painter rate / libavcodec+libswscale rate: %.3f\n", best[1] / best[0]);
    sws_freeContext(ctx);
    return 0;
}
