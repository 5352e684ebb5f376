// camhost: loads a control into a window and calls its scripting methods, as the camera's web
// page does in a browser. `--demo` brings its own simulated camera.

#include "camsim/camera.h"
#include "motion/mozon_ctrl.h"
#include "motion/zone_module.h"
#include "viewer/vuelo_ctrl.h"

#include <QLabel>

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
               "       camhost mozon URL\n"
               "       camhost --demo [vuelo|mozon] [--camera-type mpeg4|jpeg]\n"
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
    if (o.demo) {
        if (o.module.empty())
            o.module = "vuelo";
        return (o.module == "vuelo" || o.module == "mozon") && o.url.empty();
    }
    return (o.module == "vuelo" || o.module == "mozon") && !o.url.empty();
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

int RunVuelo(QApplication& app, const Options& o)
{
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

void PrintZoneStats(CMozonCtrl& control)
{
    CZoneModule& module = CZoneModule::Get();
    const CZonePanel& panel = control.Panel();
    const auto levels = module.Player().ZoneLevels();
    std::string zones;
    for (size_t i = 0; i < 4; ++i) {
        const ZoneSettings& z = panel.Config().zones[i];
        zones += std::string(i ? "," : "") + "{\"enable\":" + std::to_string(z.enable) +
                 ",\"rect\":[" + std::to_string(z.x1) + "," + std::to_string(z.y1) + "," +
                 std::to_string(z.x2) + "," + std::to_string(z.y2) +
                 "],\"level\":" + std::to_string(levels[i]) + "}";
    }
    const QLabel* message = panel.MessageLine();
    const std::string text =
        message && message->isVisible() ? message->text().toStdString() : std::string();
    std::printf("{\"decoded\":%llu,\"repaints\":%llu,\"decodeFailures\":%llu,\"message\":\"%s\","
                "\"zones\":[%s]}\n",
                static_cast<unsigned long long>(module.Painter().Decoded()),
                static_cast<unsigned long long>(module.Painter().Repaints()),
                static_cast<unsigned long long>(module.Painter().DecodeFailures()), text.c_str(),
                zones.c_str());
    std::fflush(stdout);
}

int RunMozon(QApplication& app, const Options& o)
{
    CMozonCtrl control;
    control.setWindowTitle(QStringLiteral("Mozon"));
    control.show();
    control.SetSource(o.url, "mpeg4", 1);

    if (o.seconds > 0)
        QTimer::singleShot(int(o.seconds * 1000), &app, &QApplication::quit);
    int status = app.exec();

    if (!o.screenshot.empty() && !control.grab().save(QString::fromStdString(o.screenshot)))
        std::fprintf(stderr, "camhost: cannot write %s\n", o.screenshot.c_str());
    if (o.stats)
        PrintZoneStats(control);
    // Let go of the camera before it goes.
    control.StopPlay();
    return status;
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
        if (o.module == "mozon") {
            // The zone control takes the camera's base URL without the trailing slash.
            o.url = camera->BaseUrl();
            // Two zones to edit, as a configured camera would have.
            camsim::ZoneConfig zones = camera->Zones();
            zones.zones[0].enable = 1;
            zones.zones[1].enable = 1;
            camera->SetZones(zones);
            while (!o.url.empty() && o.url.back() == '/')
                o.url.pop_back();
        } else {
            o.url = camera->BaseUrl() + "img/mjpeg.cgi";
            o.type = "jpeg";
        }
        std::printf("simulated camera on %s\n", camera->BaseUrl().c_str());
        std::fflush(stdout);
    }

    if (o.module == "mozon")
        return RunMozon(app, o);
    return RunVuelo(app, o);
}
