// The ASF stream as it may arrive: a header of any shape, then packets of whatever size it names,
// for both the viewer's and the motion-zone module's parser.
#include "stream/asf_parser.h"
#include "stream/frame_chain.h"
#include "stream/media_sinks.h"
#include "stream/stream_worker.h"

#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

struct Events : IAsfParserEvents
{
    bool audio = false;
    void PrepareVideo(int width, int height, const uint8_t*, size_t) override
    {
        if (!IsStreamPictureSize(width, height))
            std::abort(); // the parser must have refused it
    }
    bool StartAudio(int, int) override { return audio = !audio; }
    int VideoCap() const override { return 6; }
};

void Parse(const AsfProfile& profile, const uint8_t* data, size_t size)
{
    CFrameChain video, audio;
    Events events;
    CAsfParser parser(profile, video, &audio, events);
    parser.Reset();
    try {
        if (size < kAsfPreambleSize)
            return;
        const size_t rest = parser.CheckPreamble(data);
        data += kAsfPreambleSize;
        size -= kAsfPreambleSize;
        if (size < rest + kAsfDataHeaderSize)
            return;
        parser.ParseHeader(data, rest);
        data += rest + kAsfDataHeaderSize;
        size -= rest + kAsfDataHeaderSize;
        const size_t packet = parser.PacketSize();
        if (packet == 0 || packet > kAsfMaxPacketSize)
            std::abort(); // ParseHeader must have refused it
        for (int n = 0; size >= packet; ++n) {
            parser.ParsePacket(data);
            data += packet;
            size -= packet;
            if (n % 7 == 6)
                DrainFrameChain(video);
            if (video.GetCount() > 2 * 6 + 1 || audio.GetCount() > 3)
                std::abort();
        }
    } catch (const CPlayerException& e) {
        if (e.Code() != kResultMalformed && e.Code() != kResultStreamNumber &&
            e.Code() != kResultBusy && e.Code() != kResultCredentials)
            std::abort();
    } catch (const std::bad_alloc&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Parse(kViewerAsfProfile, data, size);
    Parse(kZoneAsfProfile, data, size);
    return 0;
}
