// The camera wall at full rate: the largest N for which a wall of N live 640x480 MPEG-4 streams at
// 25 pictures/s, sound on (one camera heard), paints at least 24 pictures/s in every control, the
// simulator running beside it as its own process. Each camera has its own address
// (127.0.0.K), so the settings store's per-server connection limit counts them apart as it
// would count real cameras. For each N tried it prints the per-control picture rates, the CPU
// per control (/proc), the load average; at one N it also measures what the process costs while
// no picture comes (the painters' 1 ms polling, the sound's silence) and, with --perf, where the
// time goes by symbol.
//
//   wall_bench [--seconds S] [--max N] [--only N] [--perf] [--size WxH]

#include "host/control_host.h"
#include "host/control_status.h"
#include "host/wall_window.h"
#include "platform/settings.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr double kGoalRate = 24.0;

void Pump(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

// Clock ticks of user and system time from a /proc stat line.
long Ticks(const std::string& statPath)
{
    std::ifstream in(statPath);
    std::string line;
    std::getline(in, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; rest >> field; ++i) {
        if (i == 14)
            utime = std::atol(field.c_str());
        if (i == 15) {
            stime = std::atol(field.c_str());
            break;
        }
    }
    return utime + stime;
}

// Voluntary context switches of every thread of this process: how often they went to sleep.
long Sleeps()
{
    long total = 0;
    DIR* dir = ::opendir("/proc/self/task");
    if (!dir)
        return 0;
    while (dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream in(std::string("/proc/self/task/") + e->d_name + "/status");
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                total += std::atol(line.c_str() + 24);
    }
    ::closedir(dir);
    return total;
}

struct Sample
{
    std::vector<uint64_t> painted;
    long ticks = 0, uiTicks = 0, sleeps = 0;
    std::chrono::steady_clock::time_point at;
};

Sample Take(const host::WallWindow& wall)
{
    Sample s;
    for (int i = 0; i < wall.Count(); ++i) {
        auto* control = wall.Cell(i)->Control();
        s.painted.push_back(control ? host::ReadCounters(true, control->Statistics()).pictures : 0);
    }
    s.ticks = Ticks("/proc/self/stat");
    s.uiTicks = Ticks("/proc/self/task/" + std::to_string(::getpid()) + "/stat");
    s.sleeps = Sleeps();
    s.at = std::chrono::steady_clock::now();
    return s;
}

struct Camsim
{
    pid_t pid = -1;
    int port = 0;

    bool Start(const std::string& size)
    {
        int out[2];
        if (::pipe(out) != 0)
            return false;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::execl(CAMSIM_PROGRAM, "camsim", "--host", "0.0.0.0", "--port", "0", "--asf-size",
                    size.c_str(), "--type", "mpeg4", "--fps", "25", "--max-users", "1000",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        FILE* in = ::fdopen(out[0], "r");
        char line[256] = {};
        const bool got = in && std::fgets(line, sizeof line, in);
        if (in)
            std::fclose(in);
        const char* colon = got ? std::strrchr(line, ':') : nullptr;
        port = colon ? std::atoi(colon + 1) : 0;
        return port > 0;
    }
    void Stop()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        pid = -1;
    }
    long Ticks() const { return ::Ticks("/proc/" + std::to_string(pid) + "/stat"); }
};

// Where the time went: perf's samples of this process grouped by what the symbol does.
void Profile(const std::string& file)
{
    const std::string command = "perf report -i " + file +
                                " --stdio --no-children --sort dso,sym --percent-limit 0.3 2>/dev/null";
    FILE* in = ::popen(command.c_str(), "r");
    if (!in)
        return;
    // Checked in this order; the first that matches takes the symbol.
    const std::vector<std::pair<std::string, std::regex>> groups = {
        {"polling (sleeps, timers, scheduler)",
         std::regex("nanosleep|clock_nanosleep|hrtimer|schedule|SleepMs|futex|do_syscall|"
                    "entry_SYSCALL|syscall_exit|__x64_sys|finish_task_switch|pick_next|"
                    "update_curr|dequeue|enqueue|switch_to|ttwu|select_task|tick_|"
                    "native_write_msr|__switch_to|_raw_spin")},
        {"audio (G.726, sound buffer)", std::regex("G726|g726|Audio|Sound|Wave|Pcm")},
        {"YUV to RGB conversion", std::regex("YUV|Yuv|yuv|Convert|RGB")},
        {"scaling and transform (draw surface)", std::regex("Surface|Scale|Stretch|PaintStep|"
                                                            "Transform|Resample")},
        {"MPEG-4 decoding", std::regex("decoder_|Decode|Macroblock|Mpeg4|mpeg4|Idct|idct|Dsp|"
                                       "dsp|Vlc|vlc|BitReader|Motion|Block|Residual|PostFilter|"
                                       "Filter|Interpolat|Predict|Dequant|Transform|Halfpel|"
                                       "Copy|Avx|Sse")},
        {"painting (Qt, X image)", std::regex("Q[A-Z]|qt_|blend|comp_func|qDrawPixmap|"
                                              "Raster|Image|Pixmap|Painter|Widget|libQt6Gui|"
                                              "libQt6Widgets")},
        {"stream client (ASF, HTTP)", std::regex("Asf|asf|curl|Curl|Http|ssl|recv|tcp|"
                                                 "FrameChain|libcurl")},
        {"memory copies", std::regex("memcpy|memmove|memset")},
    };
    std::map<std::string, double> share;
    std::vector<std::string> top;
    char line[1024];
    while (std::fgets(line, sizeof line, in)) {
        double percent = 0;
        if (line[0] == '#' || std::sscanf(line, " %lf%%", &percent) != 1)
            continue;
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
            text.pop_back();
        std::string group = "other";
        for (const auto& [name, pattern] : groups)
            if (std::regex_search(text, pattern)) {
                group = name;
                break;
            }
        share[group] += percent;
        if (top.size() < 25)
            top.push_back(text);
    }
    ::pclose(in);
    std::printf("  profile (perf, share of this process's samples above 0.3 %% each):\n");
    for (const auto& [group, percent] : share)
        std::printf("    %5.1f %%  %s\n", percent, group.c_str());
    std::printf("  top symbols:\n");
    for (const std::string& t : top)
        std::printf("    %s\n", t.c_str());
}

struct Result
{
    bool played = false;
    double slowest = 0;
};

Result Measure(int n, int port, int seconds, bool idleCost, bool perf, Camsim& camsim)
{
    const platform::SettingsStore store(platform::SettingsStore::DefaultPath());
    host::WallSettings settings;
    for (int k = 0; k < n; ++k) {
        host::CameraAddress a;
        a.controlUrl = "http://127.0.0." + std::to_string(k + 2) + ":" + std::to_string(port) +
                       "/img/video.asf";
        a.shown = "http://127.0.0." + std::to_string(k + 2) + ":" + std::to_string(port) + "/";
        a.type = "mpeg";
        settings.cameras.push_back(a);
    }
    settings.offscreen = true;
    settings.retry = std::chrono::milliseconds(0);
    Result result;
    auto wall = std::make_unique<host::WallWindow>(store, settings, nullptr);
    wall->resize(1920, 1080);
    wall->show();
    wall->Start();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    auto allPlaying = [&] {
        for (int i = 0; i < n; ++i)
            if (wall->Cell(i)->CurrentStatus().phase != host::Phase::Playing)
                return false;
        return true;
    };
    while (!allPlaying() && std::chrono::steady_clock::now() < until)
        Pump(100);
    std::printf("N = %d (load average %s)\n", n, LoadAverage().c_str());
    if (!allPlaying()) {
        std::printf("  not every control plays after 30 s\n");
        wall->Finish();
        return result;
    }
    Pump(2000);
    pid_t perfPid = -1;
    const std::string perfFile = "/tmp/wall_bench." + std::to_string(::getpid()) + ".perf";
    if (perf) {
        perfPid = ::fork();
        if (perfPid == 0) {
            const std::string self = std::to_string(::getppid());
            const std::string span = std::to_string(seconds);
            ::execlp("perf", "perf", "record", "-q", "-F", "499", "-p", self.c_str(), "-o",
                     perfFile.c_str(), "--", "sleep", span.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    const Sample a = Take(*wall);
    const long simA = camsim.Ticks();
    Pump(seconds * 1000);
    const Sample b = Take(*wall);
    const long simB = camsim.Ticks();
    const double span = std::chrono::duration<double>(b.at - a.at).count();
    const double hz = double(::sysconf(_SC_CLK_TCK));
    std::vector<double> rates;
    for (int i = 0; i < n; ++i)
        rates.push_back(double(b.painted[size_t(i)] - a.painted[size_t(i)]) / span);
    result.slowest = *std::min_element(rates.begin(), rates.end());
    result.played = result.slowest >= kGoalRate;
    const double cpu = 100.0 * double(b.ticks - a.ticks) / hz / span;
    std::printf("  pictures/s per control:");
    for (double r : rates)
        std::printf(" %.1f", r);
    std::printf("\n  slowest %.1f: %s\n", result.slowest,
                result.played ? "every control at 24 or more" : "below 24");
    std::printf("  CPU: %.1f %% of one core for the wall, %.2f %% per control (window thread "
                "%.1f %%); simulator %.1f %%; %.0f sleeps/s\n",
                cpu, cpu / n, 100.0 * double(b.uiTicks - a.uiTicks) / hz / span,
                100.0 * double(simB - simA) / hz / span, double(b.sleeps - a.sleeps) / span);
    if (perfPid > 0) {
        ::waitpid(perfPid, nullptr, 0);
        Profile(perfFile);
        std::filesystem::remove(perfFile);
    }
    if (idleCost) {
        // No picture comes while the simulator is held: what is left is the painters' polling,
        // the sound's silence and the window's timers.
        ::kill(camsim.pid, SIGSTOP);
        Pump(500);
        const Sample c = Take(*wall);
        Pump(3000);
        const Sample d = Take(*wall);
        ::kill(camsim.pid, SIGCONT);
        const double idleSpan = std::chrono::duration<double>(d.at - c.at).count();
        const double idle = 100.0 * double(d.ticks - c.ticks) / hz / idleSpan;
        std::printf("  with no picture coming (simulator held %.1f s): %.1f %% of one core, "
                    "%.0f sleeps/s (%.0f per control)\n",
                    idleSpan, idle, double(d.sleeps - c.sleeps) / idleSpan,
                    double(d.sleeps - c.sleeps) / idleSpan / n);
    }
    std::fflush(stdout);
    wall->Finish();
    wall.reset();
    Pump(500);
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    int seconds = 6, maxN = 64, only = 0;
    bool perf = false;
    std::string size = "640x480";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--max" && i + 1 < argc)
            maxN = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--only" && i + 1 < argc)
            only = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--size" && i + 1 < argc)
            size = argv[++i];
        else if (arg == "--perf")
            perf = true;
        else {
            std::fprintf(stderr, "usage: wall_bench [--seconds S] [--max N] [--only N] [--perf] "
                                 "[--size WxH]\n");
            return 2;
        }
    }
    char dir[] = "/tmp/wall-bench-XXXXXX";
    if (!::mkdtemp(dir))
        return 1;
    ::setenv("CAMCTL_SETTINGS", (std::string(dir) + "/settings.reg").c_str(), 1);
    ::setenv("HOME", dir, 1);
    if (!std::getenv("CAMCTL_SOUND"))
        ::setenv("CAMCTL_SOUND", "virtual", 1);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::string error;
    auto module = host::ModuleFile::Open(VUELO_MODULE, error);
    if (!module || component::Failed(module->Register())) {
        std::fprintf(stderr, "wall_bench: %s\n", error.c_str());
        return 1;
    }
    Camsim camsim;
    if (!camsim.Start(size)) {
        std::fprintf(stderr, "wall_bench: the simulator does not start\n");
        return 1;
    }
    std::printf("walls of %s MPEG-4 at 25 pictures/s with sound (camera 1 heard), %d s each, "
                "on %ld cores\n",
                size.c_str(), seconds, ::sysconf(_SC_NPROCESSORS_ONLN));
    int best = 0;
    if (only > 0) {
        best = Measure(only, camsim.port, seconds, true, perf, camsim).played ? only : 0;
    } else {
        // 32 first (the goal, with the idle cost), then halving the gap either way.
        int low = 0, high = maxN + 1, n = std::min(32, maxN);
        bool first = true;
        while (high - low > 1) {
            const bool ok = Measure(n, camsim.port, seconds, first, perf && first, camsim).played;
            first = false;
            (ok ? low : high) = n;
            n = (low + high) / 2;
        }
        best = low;
    }
    camsim.Stop();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::printf("largest N at 24 pictures/s in every control: %d%s\n", best,
                only > 0 ? " (one N tried)" : "");
    return 0;
}
