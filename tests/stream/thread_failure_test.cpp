// A helper thread of a stream client (the open thread, a reader) that cannot have memory ends the
// stream with a result code instead of taking the process down. The program replaces the global
// allocation functions so that allocations fail on one named thread only.

#include "stream/asf_player.h"
#include "stream/mjpeg_player.h"

#include "camsim/camera.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "stream/frame_chain.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::atomic<const char*> g_failOn{nullptr};

bool FailsHere()
{
    const char* name = g_failOn.load();
    if (!name)
        return false;
    char current[16] = {};
    pthread_getname_np(pthread_self(), current, sizeof current);
    return std::strcmp(current, name) == 0;
}

} // namespace

// The replacements pair malloc with free, which the compiler cannot tell when it inlines them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size)
{
    if (FailsHere())
        throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}
#pragma GCC diagnostic pop

namespace {

using namespace std::chrono_literals;

class IdlePainter : public IMpeg4Painter
{
public:
    ~IdlePainter() override { Shutdown(); }
    void Prepare(int, int, const uint8_t*, size_t) override {}
    bool DecoderOpen() const override { return false; }
    void CloseDecoder() override {}
    int Run() override
    {
        while (!m_stop)
            platform::SleepMs(1);
        return 0;
    }
    void OnError(int) override {}
};

class IdleMJpegPainter : public IMJpegPainter
{
public:
    ~IdleMJpegPainter() override { Shutdown(); }
    void Prepare(int, int) override {}
    int Run() override
    {
        while (!m_stop)
            platform::SleepMs(1);
        return 0;
    }
    void OnError(int) override {}
};

} // namespace

TEST(HelperThreadFailure, EndsTheStreamWithTheCodeItsRunGives)
{
    camsim::Camera camera;
    ASSERT_TRUE(camera.Start());
    CFrameChain video, audio;
    IdlePainter painter;
    IdleMJpegPainter mjpegPainter;
    platform::MessageQueue messages;
    std::atomic<int> cap{kInitialVideoCap};
    AsfPlayerTimings asfTimings;
    asfTimings.openSettle = asfTimings.afterStart = asfTimings.stopSleep = 0ms;
    MJpegPlayerTimings mjpegTimings;
    mjpegTimings.openSettle = mjpegTimings.afterStart = mjpegTimings.stopSleep = 0ms;

    const struct
    {
        bool asf;
        const char* thread;
        int code; // as each client's Run maps a memory failure where it surfaces
    } cases[] = {
        {true, "asf-reader", kResultMemory},
        {true, "stream-open", kResultMemory},
        {false, "mjpeg-reader", kResultMemory},
        {false, "stream-open", kResultOther},
    };
    for (const auto& c : cases) {
        std::unique_ptr<CStreamClient> client;
        if (c.asf)
            client = std::make_unique<CAsfPlayer>(kViewerAsfProfile, video, &audio, painter,
                                                  nullptr, &messages, &cap, asfTimings);
        else
            client = std::make_unique<CMJpegPlayer>(video, audio, mjpegPainter, nullptr, &messages,
                                                    mjpegTimings);
        client->SetUrl(camera.BaseUrl() + (c.asf ? "img/video.asf" : "img/mjpeg.cgi"), "", "");
        g_failOn = c.thread;
        ASSERT_TRUE(client->Start());
        auto result = messages.TakeMessage(WM_PLAYER_RESULT, 20s);
        g_failOn = nullptr;
        ASSERT_TRUE(result) << c.thread;
        EXPECT_EQ(int(result->wParam), c.code) << c.thread;
        EXPECT_TRUE(client->Stop(5000));
    }
}
