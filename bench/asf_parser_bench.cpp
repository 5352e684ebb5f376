// Parsing a recorded ASF stream packet by packet, as the client does after its header phase;
// the consumers free what is queued. Payloads are copied once, into their media objects.

#include "camsim/asf_stream.h"
#include "stream/asf_parser.h"
#include "stream/frame_chain.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

struct Events : IAsfParserEvents
{
    void PrepareVideo(int, int, const uint8_t*, size_t) override {}
    bool StartAudio(int, int) override { return true; }
    int VideoCap() const override { return 36; }
};

const std::string& Recording()
{
    static const std::string stream = [] {
        camsim::AsfStreamOptions options;
        options.width = 640;
        options.height = 480;
        return camsim::RecordAsfStream(options, 60);
    }();
    return stream;
}

void BM_ParseRecordedAsf(benchmark::State& state)
{
    const std::string& stream = Recording();
    const auto* bytes = reinterpret_cast<const uint8_t*>(stream.data());
    CFrameChain video, audio;
    Events events;
    CAsfParser parser(kViewerAsfProfile, video, &audio, events);
    size_t packetBytes = 0;
    for (auto _ : state) {
        parser.Reset();
        const size_t rest = parser.CheckPreamble(bytes);
        parser.ParseHeader(bytes + kAsfPreambleSize, rest);
        size_t at = kAsfPreambleSize + rest + kAsfDataHeaderSize;
        const size_t packet = parser.PacketSize();
        packetBytes = 0;
        for (; at + packet <= stream.size(); at += packet) {
            parser.ParsePacket(bytes + at);
            packetBytes += packet;
            DrainFrameChain(video);
            DrainFrameChain(audio);
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(packetBytes));
}

} // namespace

BENCHMARK(BM_ParseRecordedAsf)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
