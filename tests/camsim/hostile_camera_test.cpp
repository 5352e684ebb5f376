// Both controls against a hostile camera for a few seconds each: no crash, no hang (the UI thread
// is never held longer than a stop's time-out and every stop completes), bounded memory, and the
// viewer reconnects after every failure. Each run takes a new seed and prints it;
// CAMCTL_HOSTILE_SEED=N replays a run and CAMCTL_HOSTILE_SECONDS=S makes each part longer.

#include "camsim/camera.h"
#include "camsim/stream_fuzz.h"
#include "motion/mozon_ctrl.h"
#include "motion/zone_module.h"
#include "tests/motion/zone_test_support.h"
#include "tests/viewer/qt_env.h"
#include "viewer/vuelo_ctrl.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <atomic>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' allocators keep their own count (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#include <sys/resource.h>
#endif

// The camera declares impossible picture sizes on purpose: an allocation for one must fail
// rather than take the machine. Smaller excesses show in the heap bound below.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options()
{
    return "max_allocation_size_mb=1024";
}
#endif

using namespace std::chrono_literals;
using testsupport::PumpUntil;

namespace {

constexpr uint32_t kStopTimeoutMs = 10000;
// Above what the stream's legitimate worst case holds: a 32 MiB picture in assembly, a 16 MiB
// object, the decoders' planes, the camera's own encoders.
constexpr size_t kHeapBound = 256u << 20;

size_t LiveHeapBytes()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
#endif
}

uint64_t RunSeed(const char* part)
{
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    const rlimit space{4ull << 30, 4ull << 30};
    setrlimit(RLIMIT_AS, &space);
#endif
    uint64_t seed = 0;
    if (const char* text = std::getenv("CAMCTL_HOSTILE_SEED"))
        seed = std::strtoull(text, nullptr, 10);
    else
        seed = (uint64_t(std::random_device{}()) << 32) | std::random_device{}();
    std::printf("%s: hostile camera seed %" PRIu64 " (CAMCTL_HOSTILE_SEED=%" PRIu64
                " replays it)\n",
                part, seed, seed);
    std::fflush(stdout);
    return seed;
}

std::chrono::milliseconds PartTime()
{
    const char* text = std::getenv("CAMCTL_HOSTILE_SECONDS");
    const long seconds = text ? std::strtol(text, nullptr, 10) : 0;
    return std::chrono::seconds(seconds > 0 ? seconds : 5);
}

// Samples the heap from its own thread, so a peak while the UI thread is blocked counts too, and
// ends the process with the seed when the UI thread stays in one step far past a stop's time-out
// (a hang would otherwise only show as the test runner's time-out, without the seed).
class Watch
{
public:
    Watch(uint64_t seed) : m_seed(seed), m_base(LiveHeapBytes()), m_thread([this] { Run(); }) {}
    ~Watch()
    {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

    void Step() { m_lastStep = Clock::now().time_since_epoch().count(); }
    size_t PeakGrowth() const
    {
        const size_t peak = m_peak.load();
        return peak > m_base ? peak - m_base : 0;
    }

    // Runs the event loop for `time`, or until `done`; the longest single step of it.
    std::chrono::milliseconds Pump(std::chrono::milliseconds time,
                                   const std::function<void()>& each = {})
    {
        QElapsedTimer total;
        total.start();
        std::chrono::milliseconds longest{0};
        while (total.elapsed() < time.count()) {
            QElapsedTimer step;
            step.start();
            Step();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            if (each)
                each();
            longest = std::max(longest, std::chrono::milliseconds(step.elapsed()));
        }
        Step();
        return longest;
    }

private:
    using Clock = std::chrono::steady_clock;

    void Run()
    {
        std::unique_lock lock(m_mutex);
        Step();
        while (!m_wake.wait_for(lock, 10ms, [this] { return m_done; })) {
            const size_t now = LiveHeapBytes();
            if (now > m_peak.load())
                m_peak = now;
            const auto still = Clock::now() - Clock::time_point(Clock::duration(m_lastStep.load()));
            if (still > std::chrono::milliseconds(3 * kStopTimeoutMs)) {
                std::fprintf(stderr, "hostile camera: the UI thread hangs (seed %" PRIu64 ")\n",
                             m_seed);
                std::abort();
            }
        }
    }

    uint64_t m_seed;
    size_t m_base;
    std::atomic<size_t> m_peak{0};
    std::atomic<Clock::rep> m_lastStep{0};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_thread; // last: starts once the rest is set
};

camsim::Config HostileConfig(camsim::FuzzRandom& random, const char* videoType)
{
    camsim::Config config;
    config.videoType = videoType;
    config.maxUsers = 1000; // stalled connections hold their slots for a while
    const char* sizes[] = {"160x120", "320x240", "640x480", "704x480"};
    config.mjpegSize = config.asfSize = sizes[random.Below(4)];
    config.audioCodeSize = random.Pick({0, 2, 3, 4, 5});
    config.gop = random.Pick({1, 5, 30});
    return config;
}

camsim::Fault Fuzz(uint64_t seed)
{
    camsim::Fault fault;
    fault.stream = "fuzz";
    fault.seed = seed;
    return fault;
}

int Connections(const camsim::Camera& camera, const std::string& endpoint)
{
    int n = 0;
    for (const auto& r : camera.Requests())
        n += r.endpoint == endpoint;
    return n;
}

ViewerTimings HostileViewerTimings()
{
    ViewerTimings t;
    t.stopPlaySleep = 0ms;
    t.setSizeWait = 0ms;
    t.stopTimeoutMs = kStopTimeoutMs;
    t.snapshotPoll = 10ms;
    t.snapshotPolls = 20;
    auto client = [](auto& c) {
        c.openSettle = 10ms;
        c.openWait = 3000ms;
        c.afterStart = 0ms;
        c.readWait = 1500ms; // longer stalls end connections
        c.workerStop = 3000ms;
        c.stopSleep = 0ms;
    };
    client(t.mjpeg);
    client(t.asf);
    t.poster.settle = 5ms;
    t.poster.sendWait = 3000ms;
    return t;
}

void RunViewer(const char* videoType, const std::string& endpoint, uint64_t seed)
{
    testsupport::TestApp();
    camsim::FuzzRandom random(seed);
    camsim::Camera camera(HostileConfig(random, videoType));
    camera.SetFault(endpoint, Fuzz(seed));
    ASSERT_TRUE(camera.Start());

    Watch watch(seed);
    {
        ViewerHooks hooks;
        hooks.runLogin = [](CAuthorizationDlg&) { return false; };
        hooks.showBusy = [](const QString&, const QString&) {};
        CVueloCtrl control(nullptr, HostileViewerTimings(), hooks);
        control.show();
        control.SetSource(camera.BaseUrl() + "img/mjpeg.cgi", "jpeg", "", "", 0, 0);
        ASSERT_TRUE(control.Panel().Connected());
        control.StartPlay(0, "");

        CViewerPanel& panel = control.Panel();
        CStreamWorker& client = std::string(videoType) == "jpeg"
                                    ? static_cast<CStreamWorker&>(panel.MJpegPlayer())
                                    : panel.AsfPlayer();
        // A client that ended is restarted as soon as its result is handled: the panel never
        // stays without one.
        QElapsedTimer idle;
        qint64 longestIdle = 0;
        // What a user does meanwhile: the view changes and snapshots, at the seed's pace.
        QElapsedTimer sinceAction;
        sinceAction.start();
        const auto longest = watch.Pump(PartTime(), [&] {
            if (!client.Finished())
                idle.invalidate();
            else if (!idle.isValid())
                idle.start();
            else
                longestIdle = std::max(longestIdle, idle.elapsed());
            if (sinceAction.elapsed() < 600)
                return;
            sinceAction.restart();
            switch (random.Below(5)) {
            case 0: panel.OnFlip(); break;
            case 1: panel.OnMirror(); break;
            case 2: panel.OnRotate(); break;
            case 3: panel.SetZoomPercent(random.Pick({25, 50, 100, 200, 400})); break;
            default: panel.OnSnapshot(); break;
            }
        });
        // A longer step would be a stop that ran out its time-out.
        EXPECT_LT(longest.count(), kStopTimeoutMs) << "seed " << seed;
        EXPECT_LT(longestIdle, 1000) << "seed " << seed;

        const ViewerStats stats = panel.Stats();
        const int connections = Connections(camera, endpoint);
        std::printf("%s: %d connections, %" PRIu64 " restarts, %" PRIu64 " pictures painted, peak "
                    "heap growth %zu KiB\n",
                    endpoint.c_str(), connections, stats.restarts, stats.painted,
                    watch.PeakGrowth() >> 10);
        // The camera failed the stream and the viewer restarted it (a result of a run that a stop
        // ended is ignored, so results and restarts need not match).
        EXPECT_GE(stats.restarts, 1u) << "seed " << seed;

        QElapsedTimer stop;
        stop.start();
        panel.StopPlay();
        EXPECT_LT(stop.elapsed(), kStopTimeoutMs) << "seed " << seed;
        EXPECT_TRUE(client.Finished()) << "seed " << seed;
        EXPECT_TRUE(panel.MJpegPainter().Finished() && panel.Mpeg4Painter().Finished() &&
                    panel.AudioPlayer().Finished())
            << "seed " << seed;
    }
    EXPECT_LT(watch.PeakGrowth(), kHeapBound) << "seed " << seed;
}

} // namespace

TEST(HostileCamera, ViewerOnTheMotionJpegStream)
{
    RunViewer("jpeg", "img/mjpeg.cgi", RunSeed("Motion-JPEG viewer"));
}

TEST(HostileCamera, ViewerOnTheAsfStream)
{
    RunViewer("mpeg4", "img/video.asf", RunSeed("ASF viewer"));
}

// The zone control does not reconnect by itself: the test does what a user does, Cancel (read
// again and restart the video) or, one time in three, a new page with a new control.
TEST(HostileCamera, ZoneControlOnTheAsfStream)
{
    testsupport::TestApp();
    const uint64_t seed = RunSeed("zone control");
    camsim::FuzzRandom random(seed);
    camsim::Camera camera(HostileConfig(random, "mpeg4"));
    camera.SetFault("img/video.asf", Fuzz(seed));
    ASSERT_TRUE(camera.Start());
    camsim::ZoneConfig zones = camsim::ZoneConfig::Defaults();
    zones.zones[0] = testsupport::MakeZone(1, 100, 50, 300, 250, 128);
    zones.zones[1] = testsupport::MakeZone(1, 360, 40, 600, 200, 64);
    camera.SetZones(zones);
    std::string base = camera.BaseUrl();
    base.pop_back();

    Watch watch(seed);
    int reconnections = 0;
    {
        std::unique_ptr<CMozonCtrl> control;
        auto page = [&] {
            control.reset();
            ZoneTimings timings = testsupport::FastZoneTimings();
            timings.asf.readWait = 1500ms; // longer stalls end connections
            control = std::make_unique<CMozonCtrl>(nullptr, timings);
            control->show();
            control->SetSource(base, "", 1);
        };
        page();
        CAsfPlayer& player = CZoneModule::Get().Player();
        const auto longest = watch.Pump(PartTime(), [&] {
            if (!player.Finished())
                return;
            ++reconnections;
            if (random.Below(3) == 0)
                page();
            else
                control->Panel().OnCancel();
        });
        EXPECT_LT(longest.count(), kStopTimeoutMs) << "seed " << seed;
        std::printf("zone control: %d connections, %d reconnections, %" PRIu64
                    " pictures decoded, peak heap growth %zu KiB\n",
                    Connections(camera, "img/video.asf"), reconnections,
                    CZoneModule::Get().Painter().Decoded(), watch.PeakGrowth() >> 10);

        QElapsedTimer stop;
        stop.start();
        control->StopPlay();
        EXPECT_LT(stop.elapsed(), kStopTimeoutMs) << "seed " << seed;
        EXPECT_TRUE(player.Finished()) << "seed " << seed;
        EXPECT_TRUE(CZoneModule::Get().Painter().Finished()) << "seed " << seed;
        EXPECT_FALSE(CZoneModule::Get().live.load()) << "seed " << seed;
    }
    EXPECT_LT(watch.PeakGrowth(), kHeapBound) << "seed " << seed;
}
