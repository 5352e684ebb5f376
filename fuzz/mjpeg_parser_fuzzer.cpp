// The Motion-JPEG stream as it may arrive: any bytes, cut into any blocks of at most 2,048.
#include "stream/frame_chain.h"
#include "stream/media_sinks.h"
#include "stream/mjpeg_parser.h"
#include "stream/stream_worker.h"

#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

struct Events : IMJpegParserEvents
{
    bool audio = true;
    void StartPainter(int width, int height) override
    {
        if (!IsStreamPictureSize(width, height))
            std::abort(); // the parser must have refused it
    }
    bool StartAudio(int, int) override { return audio = !audio; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes choose the block sizes.
    const size_t a = 1 + data[0] * 8, b = 1 + data[1] * 3;
    data += 2;
    size -= 2;

    CFrameChain video, audio;
    Events events;
    CMJpegParser parser(video, audio, events);
    parser.Reset();
    size_t at = 0;
    try {
        for (int i = 0; at < size; ++i) {
            size_t n = std::min(i % 2 ? b : a, size - at);
            parser.ParseBlock(data + at, n);
            at += n;
            // Consumers keep up only now and then, so the queue limits are reached too.
            if (i % 5 == 4)
                DrainFrameChain(video);
            if (video.GetCount() > CMJpegParser::kVideoQueueLimit ||
                audio.GetCount() > CMJpegParser::kAudioQueueLimit)
                std::abort();
        }
        parser.EndOfStream();
    } catch (const CMJpegPlayerException& e) {
        if (e.Code() != kResultMalformed && e.Code() != kResultBusy && e.Code() != kResultCredentials)
            std::abort();
    } catch (const std::bad_alloc&) {
    }
    return 0;
}
