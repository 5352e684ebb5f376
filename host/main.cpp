// camhost: loads a control into a window and calls its scripting methods, as the camera's web
// page does in a browser. `--demo` brings its own simulated camera.

#include "camsim/camera.h"
#include "viewer/vuelo_ctrl.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct Options
{
    std::string module;
    std::string url;
    std::string type = "jpeg";
    std::string panTilt = "on";
    std::string rate;
    int size = 0;
    bool demo = false;
    bool offscreen = false;
    double seconds = 0;
    std::string screenshot;
    bool stats = false;
    std::string cameraType = "mpeg4"; // what the demo's camera answers in its util query
};

void Usage(FILE* out)
{
    std::fputs("usage: camhost vuelo URL [--type jpeg|mpeg] [--pantilt on|off] [--rate R]\n"
               "                        [--size 160|320|640]\n"
               "       camhost --demo [--camera-type mpeg4|jpeg]\n"
               "common: --offscreen  --seconds S  --screenshot FILE.png  --stats\n"
               "With --demo and no display the demo runs offscreen for a few seconds and writes\n"
               "camhost-demo.png and its statistics.\n",
               out);
}

bool Parse(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "camhost: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            std::exit(0);
        } else if (arg == "--demo") {
            o.demo = true;
        } else if (arg == "--type") {
            o.type = value();
        } else if (arg == "--pantilt") {
            o.panTilt = value();
        } else if (arg == "--rate") {
            o.rate = value();
        } else if (arg == "--size") {
            o.size = std::atoi(value().c_str());
        } else if (arg == "--offscreen") {
            o.offscreen = true;
        } else if (arg == "--seconds") {
            o.seconds = std::atof(value().c_str());
        } else if (arg == "--screenshot") {
            o.screenshot = value();
        } else if (arg == "--camera-type") {
            o.cameraType = value();
        } else if (arg == "--stats") {
            o.stats = true;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "camhost: unknown option %s\n", arg.c_str());
            return false;
        } else if (o.module.empty()) {
            o.module = arg;
        } else if (o.url.empty()) {
            o.url = arg;
        } else {
            return false;
        }
    }
    if (o.demo)
        return o.module.empty() || o.module == "vuelo";
    return o.module == "vuelo" && !o.url.empty();
}

bool HaveDisplay()
{
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

void PrintStats(const ViewerStats& s)
{
    std::string results;
    for (size_t i = 0; i < s.results.size(); ++i)
        results += (i ? "," : "") + std::to_string(s.results[i]);
    std::printf("{\"painted\":%llu,\"decodeFailures\":%llu,\"restarts\":%llu,\"results\":[%s]}\n",
                static_cast<unsigned long long>(s.painted),
                static_cast<unsigned long long>(s.decodeFailures),
                static_cast<unsigned long long>(s.restarts), results.c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!Parse(argc, argv, o)) {
        Usage(stderr);
        return 2;
    }
    if (o.demo && !HaveDisplay()) {
        o.offscreen = true;
        if (o.seconds <= 0)
            o.seconds = 5;
        if (o.screenshot.empty())
            o.screenshot = "camhost-demo.png";
        o.stats = true;
    }
    if (o.offscreen)
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);

    std::unique_ptr<camsim::Camera> camera;
    if (o.demo) {
        camsim::Config config;
        config.videoType = o.cameraType;
        camera = std::make_unique<camsim::Camera>(config);
        if (!camera->Start()) {
            std::fprintf(stderr, "camhost: the simulated camera cannot listen\n");
            return 1;
        }
        // As a camera's page does: the stream URL of one type; the util query picks the stream.
        o.url = camera->BaseUrl() + "img/mjpeg.cgi";
        o.type = "jpeg";
        std::printf("simulated camera on %s\n", camera->BaseUrl().c_str());
        std::fflush(stdout);
    }

    CVueloCtrl control;
    control.setWindowTitle(QStringLiteral("Vuelo"));
    control.show();
    control.SetSource(o.url, o.type, o.panTilt, o.rate, 0, 0);
    if (o.size)
        control.SetSize(o.size);
    control.StartPlay(0, std::string());

    if (o.seconds > 0)
        QTimer::singleShot(int(o.seconds * 1000), &app, &QApplication::quit);
    int status = app.exec();

    if (!o.screenshot.empty() && !control.grab().save(QString::fromStdString(o.screenshot)))
        std::fprintf(stderr, "camhost: cannot write %s\n", o.screenshot.c_str());
    ViewerStats stats = control.Panel().Stats();
    // Stop the stream before the camera goes, so the client sees an orderly end.
    control.StopPlay();
    if (o.stats)
        PrintStats(stats);
    return status;
}
