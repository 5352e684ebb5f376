// Parsing a recorded Motion-JPEG stream (640 x 480 pictures with audio between their packets) in
// 2,048-byte blocks, as the client reads it; the consumer frees what is queued. The parser copies
// each packet once and each video payload once more, so its rate should be that of copying.

#include "camsim/mjpeg_stream.h"
#include "stream/frame_chain.h"
#include "stream/mjpeg_parser.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace {

struct Events : IMJpegParserEvents
{
    void StartPainter(int, int) override {}
    bool StartAudio(int, int) override { return true; }
};

const std::string& Recording()
{
    static const std::string stream = [] {
        camsim::MJpegStreamOptions options;
        options.width = 640;
        options.height = 480;
        return camsim::RecordMJpegStream(options, 60);
    }();
    return stream;
}

void BM_ParseRecordedStream(benchmark::State& state)
{
    const std::string& stream = Recording();
    const auto* bytes = reinterpret_cast<const uint8_t*>(stream.data());
    const size_t block = size_t(state.range(0));
    CFrameChain video, audio;
    Events events;
    CMJpegParser parser(video, audio, events);
    for (auto _ : state) {
        parser.Reset();
        for (size_t at = 0; at < stream.size(); at += block) {
            parser.ParseBlock(bytes + at, std::min(block, stream.size() - at));
            DrainFrameChain(video);
            DrainFrameChain(audio);
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
}

} // namespace

BENCHMARK(BM_ParseRecordedStream)->Arg(2048)->Arg(65536)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
