// One run, two paths over the same 640 x 480 pictures of the simulator's stream:
//   painter: the image holder's decode, the rotate transform and the scaled draw into the
//            drawing surface, as the Motion-JPEG painter does per picture;
//   bare:    libjpeg-turbo decoding straight to BGR.
// Rounds alternate and the fastest round of each is kept, so load elsewhere stays out of the
// ratio. Prints the painter's rate as a share of the bare decode's; the goal is at least 0.8.

#include "camsim/mjpeg_stream.h"
#include "codec/image_holder.h"
#include "stream/frame_chain.h"
#include "stream/mjpeg_parser.h"
#include "viewer/draw_surface.h"
#include "viewer/paint_step.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <jpeglib.h>

namespace {

struct Events : IMJpegParserEvents
{
    void StartPainter(int, int) override {}
    bool StartAudio(int, int) override { return false; }
};

std::vector<std::vector<uint8_t>> Pictures()
{
    camsim::MJpegStreamOptions options;
    options.width = 640;
    options.height = 480;
    options.audioCodeSize = 0;
    const std::string stream = camsim::RecordMJpegStream(options, 30);
    CFrameChain video, audio;
    Events events;
    CMJpegParser parser(video, audio, events);
    parser.Reset();
    std::vector<std::vector<uint8_t>> pictures;
    for (size_t at = 0; at < stream.size(); at += 2048) {
        parser.ParseBlock(reinterpret_cast<const uint8_t*>(stream.data()) + at,
                          std::min<size_t>(2048, stream.size() - at));
        uint8_t* data;
        int32_t size;
        uint32_t ts;
        while (FrameChainNode* node = video.Remove(&data, &size, &ts)) {
            pictures.emplace_back(data, data + size);
            FreeFrame(node);
        }
    }
    return pictures;
}

void Fail(j_common_ptr)
{
    std::fputs("libjpeg failed\n", stderr);
    std::exit(1);
}

void BareDecode(const std::vector<uint8_t>& jpeg, std::vector<uint8_t>& pixels)
{
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    err.error_exit = Fail;
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    const size_t stride = (size_t(cinfo.output_width) * 3 + 3) & ~size_t(3);
    pixels.resize(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels.data() + size_t(cinfo.output_scanline) * stride;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
}

template <class F>
double Seconds(F&& f)
{
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main()
{
    const auto pictures = Pictures();
    if (pictures.empty()) {
        std::fputs("no pictures\n", stderr);
        return 1;
    }
    CImageHolder holder(FormatJpeg);
    CDrawSurface surface;
    CPaintStep step(&surface);
    step.SetSizes(640, 480);
    std::vector<uint8_t> pixels;
    const double n = double(pictures.size());
    std::printf("pictures: %zu at 640x480\n", pictures.size());

    for (int mode : {kTransformNone, kTransformRotate}) {
        step.SetTransform(mode);
        double painter = 1e9, bare = 1e9;
        for (int round = 0; round < 15; ++round) {
            painter = std::min(painter, Seconds([&] {
                for (const auto& p : pictures) {
                    if (!holder.Decode(p.data(), uint32_t(p.size()), FormatJpeg))
                        std::exit(1);
                    step.Paint(holder.GetBits(), int(holder.GetWidth()), int(holder.GetHeight()),
                               int(holder.GetEffWidth()));
                    holder.FreeDib();
                }
            }));
            bare = std::min(bare, Seconds([&] {
                for (const auto& p : pictures)
                    BareDecode(p, pixels);
            }));
        }
        const char* name = mode == kTransformNone ? "as shot" : "rotated";
        std::printf("%s: painter path %.3f ms, bare decode %.3f ms per picture; "
                    "painter rate / bare rate %.3f%s\n",
                    name, 1000 * painter / n, 1000 * bare / n, bare / painter,
                    mode == kTransformNone ? " (goal: at least 0.8)" : "");
    }
    return 0;
}
