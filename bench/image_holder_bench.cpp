// Decoding one 640 x 480 Motion-JPEG-like frame: into the image holder (Exif scan, block
// allocation, bottom-up rows, escape test per row) against a bare libjpeg decode to BGR into a
// fresh buffer. Prints the holder's cost relative to the bare decode; above 1.10 it exits 1.
//
// The runs are repeated and interleaved, and the fastest repetition of each is compared, which
// keeps other load on the machine out of the ratio.

#include "codec/image_holder.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <unistd.h>

namespace {

constexpr double kAllowedRatio = 1.10;

void AbortOnError(j_common_ptr cinfo)
{
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    std::fprintf(stderr, "libjpeg: %s\n", text);
    std::abort();
}

// A camera-like picture: smooth shading, edges and some sensor noise, 4:2:0 at quality 80.
const std::vector<uint8_t>& Frame()
{
    static const std::vector<uint8_t> frame = [] {
        const int w = 640, h = 480;
        jpeg_compress_struct cinfo;
        jpeg_error_mgr err;
        cinfo.err = jpeg_std_error(&err);
        err.error_exit = AbortOnError;
        jpeg_create_compress(&cinfo);
        unsigned char* out = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&cinfo, &out, &size);
        cinfo.image_width = w;
        cinfo.image_height = h;
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, 80, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        std::vector<uint8_t> row(w * 3);
        uint32_t noise = 12345;
        while (cinfo.next_scanline < cinfo.image_height) {
            int y = static_cast<int>(cinfo.next_scanline);
            for (int x = 0; x < w; ++x) {
                noise = noise * 1664525u + 1013904223u;
                int n = static_cast<int>(noise >> 28) - 8;
                bool edge = ((x / 80) + (y / 60)) % 2 == 0;
                for (int c = 0; c < 3; ++c) {
                    double shade = 128 + 90 * std::sin(x * 0.02 * (c + 1) + y * 0.015);
                    int v = static_cast<int>(shade) + (edge ? 30 : -30) + n;
                    row[x * 3 + c] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
                }
            }
            JSAMPROW p = row.data();
            jpeg_write_scanlines(&cinfo, &p, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        std::vector<uint8_t> bytes(out, out + size);
        std::free(out);
        return bytes;
    }();
    return frame;
}

void BM_HolderDecode(benchmark::State& state)
{
    const std::vector<uint8_t>& frame = Frame();
    CImageHolder holder;
    for (auto _ : state) {
        if (!holder.Decode(frame.data(), static_cast<uint32_t>(frame.size()), FormatJpeg)) {
            state.SkipWithError(holder.GetLastError());
            break;
        }
        benchmark::DoNotOptimize(holder.GetBits());
        holder.FreeDib();
    }
}

void BM_BareDecode(benchmark::State& state)
{
    const std::vector<uint8_t>& frame = Frame();
    for (auto _ : state) {
        jpeg_decompress_struct cinfo;
        jpeg_error_mgr err;
        cinfo.err = jpeg_std_error(&err);
        err.error_exit = AbortOnError;
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, frame.data(), frame.size());
        jpeg_read_header(&cinfo, TRUE);
        cinfo.out_color_space = JCS_EXT_BGR;
        jpeg_start_decompress(&cinfo);
        const size_t stride = (cinfo.output_width * 3 + 3) & ~size_t(3);
        std::unique_ptr<uint8_t[]> pixels(new uint8_t[stride * cinfo.output_height]);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = pixels.get() + cinfo.output_scanline * stride;
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        benchmark::DoNotOptimize(pixels.get());
    }
}

double Fastest(const std::vector<double>& v)
{
    double best = v.front();
    for (double x : v)
        best = x < best ? x : best;
    return best;
}

BENCHMARK(BM_HolderDecode)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ComputeStatistics("min", Fastest);
BENCHMARK(BM_BareDecode)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ComputeStatistics("min", Fastest);

class RatioReporter : public benchmark::ConsoleReporter
{
public:
    explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "min")
                m_fastest[run.run_name.function_name] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Returns false when the holder is over its budget or a run is missing.
    bool PrintRatio() const
    {
        auto holder = m_fastest.find("BM_HolderDecode");
        auto bare = m_fastest.find("BM_BareDecode");
        if (holder == m_fastest.end() || bare == m_fastest.end() || bare->second <= 0) {
            std::printf("holder/bare ratio: not measured (both benchmarks must run)\n");
            return false;
        }
        double ratio = holder->second / bare->second;
        std::printf("holder/bare ratio: %.3f (holder %.1f us, bare %.1f us, allowed %.2f)\n", ratio,
                    holder->second, bare->second, kAllowedRatio);
        return ratio <= kAllowedRatio;
    }

private:
    std::map<std::string, double> m_fastest;
};

} // namespace

int main(int argc, char** argv)
{
    // Interleaving the repetitions spreads slow spells of the machine over both decodes.
    std::vector<char*> args(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave.data());
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 2;
    RatioReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults
                                                 : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.PrintRatio() ? 0 : 1;
}
