#include "host/wall_run.h"

#include "host/camera_address.h"
#include "host/credentials.h"
#include "host/display.h"
#include "host/options.h"
#include "host/request_log.h"
#include "host/supervisor.h"
#include "host/window_run.h"
#include "host/wall_plan.h"
#include "host/wall_window.h"
#include "platform/settings.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

namespace host {

namespace {

void Say(const std::string& line)
{
    std::fprintf(stderr, "camhost: %s\n", line.c_str());
}

} // namespace

int RunWall(Options& o, int argc, char** argv)
{
    std::vector<std::string> urls = o.urls;
    if (!o.urlFile.empty()) {
        std::ifstream in(o.urlFile);
        std::string why;
        if (!in) {
            Say("cannot read " + o.urlFile);
            return kExitUsage;
        }
        if (!ReadUrlList(in, urls, why)) {
            Say(o.urlFile + ": " + why);
            return kExitUsage;
        }
    }
    if (urls.empty()) {
        Say("no camera to show");
        return kExitUsage;
    }

    WallSettings settings;
    for (const std::string& url : urls) {
        CameraAddress address;
        std::string why;
        if (!ViewerAddress(url, o.type, address, why)) {
            Say("wrong URL form: " + why);
            return kExitBadUrl;
        }
        settings.cameras.push_back(address);
    }
    Credentials credentials;
    credentials.user = !o.user.empty() ? o.user : settings.cameras.front().user;
    if (std::string why; !ReadPassword(o, credentials, why)) {
        Say(why);
        return kExitUsage;
    }

    if (!o.offscreen) {
        if (const std::string problem = DisplayProblem(); !problem.empty()) {
            if (o.seconds > 0 || !o.screenshot.empty()) {
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

    RequestLog log;
    if (o.verbose)
        log.SetEcho([](const std::string& line) { Say(line); });
    if (!log.Open())
        Say("no request trace; failures are told apart less well");

    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("camhost"));

    settings.panTilt = o.panTilt;
    settings.rate = o.rate;
    settings.retry = RetryDelay(o);
    settings.offscreen = o.offscreen;
    settings.verbose = o.verbose;
    settings.credentials = credentials;

    const platform::SettingsStore store(platform::SettingsStore::DefaultPath());
    WallWindow window(store, settings, &log);
    std::optional<int> endedWith;
    QObject::connect(&window, &WallWindow::RunEnded, &app, [&endedWith](int code) {
        endedWith = code;
        EndRun(code);
    });

    Supervisor::Hooks hooks;
    hooks.askToEnd = [&app] {
        QMetaObject::invokeMethod(&app, [] { EndRun(0); }, Qt::QueuedConnection);
    };
    hooks.exitCode = [&window] { return window.ExitCodeNow(); };
    hooks.whyBlocked = [&log] {
        const auto pending = log.OldestPending();
        if (!pending)
            return std::string("a control does not return to the window");
        return FailureLine(Failure::NoAnswer, pending->first,
                           "no reply in " + std::to_string(pending->second.count() / 1000) +
                               " s");
    };
    const std::optional<std::chrono::milliseconds> limit = RunLimit(o);
    // Each viewer stops its stream in turn as it goes, some tenths of a second each.
    Supervisor::Timings timings;
    timings.endWithin += std::chrono::seconds(1) * long(settings.cameras.size());
    Supervisor supervisor(limit, hooks, timings);

    window.show();
    QTimer::singleShot(0, &window, [&window] { window.Start(); });
    app.exec();
    supervisor.LoopEnded();

    if (!o.screenshot.empty() && !SaveScreenshot(window, o.offscreen, o.screenshot))
        Say("cannot write " + o.screenshot);
    const std::string stats = window.Statistics();
    int code = kExitOk;
    if (supervisor.Signal())
        code = 128 + supervisor.Signal();
    else if (endedWith)
        code = *endedWith;
    else if (supervisor.TimedOut())
        code = window.ExitCodeNow();
    // Before the controls go: stopping many streams may take long enough for the supervisor.
    if (o.stats) {
        std::printf("%s\n", stats.c_str());
        std::fflush(stdout);
    }
    window.Finish();
    return code;
}

} // namespace host
