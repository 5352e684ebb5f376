// camhost: loads a control into a window and calls its scripting methods, as the camera's web
// page does in a browser: the control is found by ProgID in the settings store, its module file
// loaded and its class factory asked for it. `--demo` brings its own simulated camera and
// registers the freshly built modules into a private store first.

#include "camsim/camera.h"
#include "host/camera_address.h"
#include "host/camera_trust.h"
#include "host/control_host.h"
#include "host/credentials.h"
#include "host/display.h"
#include "host/host_window.h"
#include "host/options.h"
#include "host/readouts.h"
#include "host/request_log.h"
#include "host/supervisor.h"
#include "host/window_run.h"
#include "host/tools.h"
#include "host/wall_run.h"
#include "module/registration.h"
#include "module/type_info.h"
#include "platform/settings.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

namespace {

using namespace host;

void Say(const std::string& line)
{
    std::fprintf(stderr, "camhost: %s\n", line.c_str());
}

// What a browser does with a downloaded module: load it and let it register (or unregister)
// itself.
bool RegisterModule(const std::string& file, bool reg)
{
    std::string error;
    auto module = ModuleFile::Open(file, error);
    if (!module) {
        Say(error);
        return false;
    }
    const component::HResult hr = reg ? module->Register() : module->Unregister();
    if (component::Failed(hr)) {
        Say(std::string(reg ? "register" : "unregister") + " of " + file + " failed (" +
            HResultText(hr) + ")");
        return false;
    }
    return true;
}

// A module file that is gone cannot unregister itself; its entries go by what they name.
int UnregisterGone(const std::string& file)
{
    platform::SettingsStore store(platform::SettingsStore::DefaultPath());
    std::error_code ec;
    const std::string resolved = std::filesystem::weakly_canonical(file, ec).string();
    bool found = false;
    for (const component::ModuleDefinition* module :
         {&component::VueloModule(), &component::MozonModule()}) {
        const auto server = component::InprocServerOf(store, module->ids.controlClassId);
        if (!server || (*server != file && *server != resolved))
            continue;
        found = true;
        const component::HResult hr = component::UnregisterServer(store, *module);
        if (component::Failed(hr)) {
            Say("unregister of " + file + " failed (" + HResultText(hr) + ")");
            return kExitError;
        }
    }
    if (!found) {
        Say(file + " does not exist, and no registered control names it");
        return kExitError;
    }
    std::printf("unregistered %s (the file is gone; its entries were removed)\n", file.c_str());
    return kExitOk;
}

int RunRegistration(const Options& o)
{
    const bool reg = o.command == "register";
    std::error_code ec;
    if (!reg && !std::filesystem::exists(o.moduleFile, ec))
        return UnregisterGone(o.moduleFile);
    if (!RegisterModule(o.moduleFile, reg))
        return kExitError;
    std::printf("%s %s\n", reg ? "registered" : "unregistered", o.moduleFile.c_str());
    return kExitOk;
}

// The demo's own settings store, so that registering the built modules leaves the user's alone.
class PrivateStore
{
public:
    PrivateStore()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "camhost-demo-XXXXXX").string();
        if (::mkdtemp(pattern.data())) {
            m_dir = pattern;
            ::setenv("CAMCTL_SETTINGS", (std::filesystem::path(m_dir) / "settings.reg").c_str(),
                     1);
        }
    }
    ~PrivateStore() { Remove(); }
    bool Made() const { return !m_dir.empty(); }
    // Also from the supervisor's thread when the run is forced to end.
    void Remove() const
    {
        std::error_code ec;
        if (!m_dir.empty())
            std::filesystem::remove_all(m_dir, ec);
    }

private:
    std::string m_dir;
};

// The modules next to an installed camhost, else the ones built with it.
std::string DemoModule(const char* fileName, const char* built)
{
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const auto installed = self.parent_path().parent_path() / CAMHOST_LIBDIR / fileName;
        if (std::filesystem::exists(installed, ec))
            return installed.string();
    }
    return built;
}

bool RegisterDemoModules()
{
    return RegisterModule(DemoModule("libvuelo.so", CAMHOST_VUELO_MODULE), true) &&
           RegisterModule(DemoModule("libmozon.so", CAMHOST_MOZON_MODULE), true);
}

// Qt's notes that say nothing to a user: the offscreen platform's size hints, a runtime folder
// it makes itself.
QtMessageHandler g_qtHandler = nullptr;
bool g_verbose = false;
void QuietQt(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (!g_verbose && type != QtFatalMsg && type != QtCriticalMsg &&
        (text.contains(QLatin1String("propagateSizeHints")) ||
         text.contains(QLatin1String("XDG_RUNTIME_DIR"))))
        return;
    if (g_qtHandler)
        g_qtHandler(type, context, text);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

// The control's counters with the run's readouts added, in the order the control gave them.
std::string WithReadouts(const std::string& stats, const std::optional<ReadoutSummary>& drift,
                         const std::optional<ReadoutSummary>& latency)
{
    nlohmann::ordered_json json = nlohmann::ordered_json::parse(stats, nullptr, false);
    if (!json.is_object())
        return stats;
    auto summary = [](const std::optional<ReadoutSummary>& s) {
        nlohmann::ordered_json out = {{"samples", s ? s->samples : 0}};
        if (s) {
            out["median"] = s->median;
            out["p95"] = s->p95;
            out["max"] = s->max;
        }
        return out;
    };
    json["readouts"] = {{"drift", summary(drift)}, {"latency", summary(latency)}};
    return json.dump();
}

// Ends the run from the window thread: open prompts are turned down, every event loop left.
} // namespace

int main(int argc, char** argv)
{
    Supervisor::BlockStopSignals();
    std::signal(SIGPIPE, SIG_IGN);

    Options o;
    const ParseResult parsed =
        ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), o);
    switch (parsed.what) {
    case ParseResult::Help:
        std::fputs(UsageText().c_str(), stdout);
        return kExitOk;
    case ParseResult::Version:
        std::fputs(VersionText().c_str(), stdout);
        return kExitOk;
    case ParseResult::Error:
        Say(parsed.error);
        std::fputs("Try camhost --help.\n", stderr);
        return kExitUsage;
    case ParseResult::Run:
        break;
    }
    if (o.command == "register" || o.command == "unregister")
        return RunRegistration(o);
    if (std::string why; !TrustCameraCertificates(o, why)) {
        Say(why);
        return kExitUsage;
    }
    if (IsToolCommand(o.command))
        return RunTool(o);
    if (o.command == "wall") {
        g_verbose = o.verbose;
        g_qtHandler = qInstallMessageHandler(QuietQt);
        return RunWall(o, argc, argv);
    }

    const bool viewer = o.command == "vuelo";
    CameraAddress address;
    if (!o.demo) {
        std::string why;
        if (!(viewer ? ViewerAddress(o.url, o.type, address, why)
                     : ZoneAddress(o.url, address, why))) {
            Say("wrong URL form: " + why);
            return kExitBadUrl;
        }
    }
    Credentials credentials;
    credentials.user = !o.user.empty() ? o.user : address.user;
    if (std::string why; !ReadPassword(o, credentials, why)) {
        Say(why);
        return kExitUsage;
    }

    if (!o.offscreen) {
        if (const std::string problem = DisplayProblem(); !problem.empty()) {
            if (o.demo) {
                // The demo shows what it can without a window.
                o.offscreen = true;
                if (o.seconds <= 0)
                    o.seconds = 5;
                if (o.screenshot.empty())
                    o.screenshot = std::filesystem::absolute("camhost-demo.png").string();
                o.stats = true;
            } else if (o.seconds > 0 || !o.screenshot.empty()) {
                Say(problem + "; running offscreen");
                o.offscreen = true;
            } else {
                Say(problem + "; give --offscreen (with --seconds) to run without a window");
                return kExitError;
            }
        }
    }
    if (o.offscreen)
        qputenv("QT_QPA_PLATFORM", "offscreen");

    std::unique_ptr<PrivateStore> privateStore;
    if (o.demo) {
        privateStore = std::make_unique<PrivateStore>();
        if (!privateStore->Made() || !RegisterDemoModules()) {
            Say("cannot register the demo's modules");
            return kExitError;
        }
    }

    RequestLog log;
    if (o.verbose)
        log.SetEcho([](const std::string& line) { Say(line); });
    if (!log.Open())
        Say("no request trace; failures are told apart less well");

    g_verbose = o.verbose;
    g_qtHandler = qInstallMessageHandler(QuietQt);
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("camhost"));

    std::unique_ptr<camsim::Camera> camera;
    if (o.demo) {
        camsim::Config config;
        config.videoType = o.cameraType;
        config.streamDate = true;
        camera = std::make_unique<camsim::Camera>(config);
        if (!camera->Start()) {
            Say("the simulated camera cannot listen");
            return kExitError;
        }
        std::string why;
        if (viewer) {
            ViewerAddress(camera->BaseUrl() + "img/mjpeg.cgi", "jpeg", address, why);
        } else {
            ZoneAddress(camera->BaseUrl(), address, why);
            // Two zones to edit, as a configured camera would have.
            camsim::ZoneConfig zones = camera->Zones();
            zones.zones[0].enable = 1;
            zones.zones[1].enable = 1;
            camera->SetZones(zones);
        }
        std::printf("simulated camera on %s\n", camera->BaseUrl().c_str());
        std::fflush(stdout);
    }

    HostSettings settings;
    settings.viewer = viewer;
    settings.address = address;
    settings.panTilt = o.panTilt;
    settings.rate = o.rate;
    settings.size = o.size;
    settings.retry = RetryDelay(o);
    settings.offscreen = o.offscreen;
    settings.verbose = o.verbose;
    settings.credentials = credentials;
    settings.overlay = o.overlay;

    const platform::SettingsStore store(platform::SettingsStore::DefaultPath());
    HostWindow window(store, settings, &log);
    std::optional<int> endedWith;
    QObject::connect(&window, &HostWindow::RunEnded, &app, [&endedWith](int code) {
        endedWith = code;
        EndRun(code);
    });

    // The ending gives up what the control waits for, so what was unanswered is noted first.
    std::mutex endLock;
    std::optional<std::pair<std::string, std::chrono::milliseconds>> pendingAtEnd;
    Supervisor::Hooks hooks;
    hooks.askToEnd = [&app, &log, &endLock, &pendingAtEnd] {
        {
            std::lock_guard lock(endLock);
            if (!pendingAtEnd)
                pendingAtEnd = log.OldestPending();
        }
        QMetaObject::invokeMethod(&app, [] { EndRun(0); }, Qt::QueuedConnection);
    };
    auto blocked = [&log]() { return log.OldestPending(); };
    hooks.exitCode = [&window, blocked] {
        const auto pending = blocked();
        return pending && pending->second.count() >= 1000 ? int(kExitNoAnswer)
                                                           : window.ExitCodeNow();
    };
    hooks.whyBlocked = [&address, blocked] {
        const auto pending = blocked();
        if (!pending)
            return std::string("the control does not return to the window");
        return FailureLine(Failure::NoAnswer, address.shown,
                           "no reply in " + std::to_string(pending->second.count() / 1000) +
                               " s");
    };
    hooks.cleanUp = [&privateStore] {
        if (privateStore)
            privateStore->Remove();
    };
    const std::optional<std::chrono::milliseconds> limit = RunLimit(o);
    Supervisor supervisor(limit, hooks);

    window.show();
    QTimer::singleShot(0, &window, [&window] { window.Start(); });
    app.exec();
    supervisor.LoopEnded();

    if (!o.screenshot.empty() && !SaveScreenshot(window, o.offscreen, o.screenshot))
        Say("cannot write " + o.screenshot);
    const std::string stats = window.Statistics();
    const Status status = window.CurrentStatus();
    int code = kExitOk;
    if (supervisor.Signal()) {
        code = 128 + supervisor.Signal();
    } else if (endedWith) {
        code = *endedWith;
    } else if (supervisor.TimedOut()) {
        code = window.ExitCodeNow();
        std::optional<std::pair<std::string, std::chrono::milliseconds>> pending;
        {
            std::lock_guard lock(endLock);
            pending = pendingAtEnd;
        }
        // A short run has not much time to wait: a quarter of it unanswered is enough.
        const std::chrono::milliseconds unanswered =
            std::min<std::chrono::milliseconds>(std::chrono::milliseconds(2000), *limit / 4);
        if (code == kExitOk && status.phase != Phase::Playing && pending &&
            pending->second >= unanswered) {
            code = kExitNoAnswer;
            Say(FailureLine(Failure::NoAnswer, address.shown,
                            "no reply in " + std::to_string(pending->second.count() / 1000) +
                                " s"));
        }
    }
    // Stop the stream before the camera goes, so the client sees an orderly end.
    window.Finish();
    if (o.stats) {
        std::string line = stats;
        if (viewer) {
            const auto drift = window.Drift().Summary(), latency = window.Latency().Summary();
            Say(ReadoutLine("A/V drift", drift));
            Say(ReadoutLine("latency", latency));
            line = WithReadouts(stats, drift, latency);
        }
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    return code;
}
