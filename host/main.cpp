// camhost: loads a control into a window and calls its scripting methods, as the camera's web
// page does in a browser: the control is found by ProgID in the settings store, its module file
// loaded and its class factory asked for it. `--demo` brings its own simulated camera and
// registers the freshly built modules into a private store first.

#include "camsim/camera.h"
#include "host/control_host.h"
#include "module/identifiers.h"
#include "platform/settings.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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
    std::string moduleFile;           // register / unregister
};

void Usage(FILE* out)
{
    std::fputs("usage: camhost vuelo URL [--type jpeg|mpeg] [--pantilt on|off] [--rate R]\n"
               "                        [--size 160|320|640]\n"
               "       camhost mozon URL\n"
               "       camhost --demo [vuelo|mozon] [--camera-type mpeg4|jpeg]\n"
               "       camhost register MODULE-FILE | camhost unregister MODULE-FILE\n"
               "common: --offscreen  --seconds S  --screenshot FILE.png  --stats\n"
               "vuelo and mozon load the control registered for VUELO.VueloCtrl.1 or\n"
               "MOZON.MozonCtrl.1 in the settings store ($CAMCTL_SETTINGS, else\n"
               "$XDG_CONFIG_HOME/camctl/settings.reg). With --demo and no display the demo runs\n"
               "offscreen for a few seconds and writes camhost-demo.png and its statistics.\n",
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
        } else if (o.module == "register" || o.module == "unregister") {
            if (!o.moduleFile.empty())
                return false;
            o.moduleFile = arg;
        } else if (o.url.empty()) {
            o.url = arg;
        } else {
            return false;
        }
    }
    if (o.module == "register" || o.module == "unregister")
        return !o.demo && !o.moduleFile.empty();
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

// What a browser does with a downloaded module: load it and let it register (or unregister)
// itself.
bool RegisterModule(const std::string& file, bool reg)
{
    std::string error;
    auto module = host::ModuleFile::Open(file, error);
    if (!module) {
        std::fprintf(stderr, "camhost: %s\n", error.c_str());
        return false;
    }
    const component::HResult hr = reg ? module->Register() : module->Unregister();
    if (component::Failed(hr)) {
        std::fprintf(stderr, "camhost: %s of %s failed (%s)\n", reg ? "register" : "unregister",
                     file.c_str(), host::HResultText(hr).c_str());
        return false;
    }
    return true;
}

int RunRegistration(const Options& o)
{
    const bool reg = o.module == "register";
    if (!RegisterModule(o.moduleFile, reg))
        return 1;
    std::printf("%s %s\n", reg ? "registered" : "unregistered", o.moduleFile.c_str());
    return 0;
}

int RunControl(QApplication& app, const Options& o)
{
    const bool zones = o.module == "mozon";
    const component::ModuleIdentifiers& ids = zones ? component::kMozonIds : component::kVueloIds;
    const platform::SettingsStore store(platform::SettingsStore::DefaultPath());
    std::string error;
    auto control = host::ScriptedControl::Create(store, ids.controlProgId, error);
    if (!control) {
        std::fprintf(stderr, "camhost: %s\n", error.c_str());
        return 1;
    }
    QWidget* window = control->Widget();
    if (!window) {
        std::fprintf(stderr, "camhost: the control has no window\n");
        return 1;
    }
    window->setWindowTitle(
        QString::fromUtf8(ids.moduleName.data(), qsizetype(ids.moduleName.size())));
    window->show();

    auto call = [&](const char* method, const std::vector<DispatchArg>& args) {
        const component::HResult hr = control->Call(method, args);
        if (component::Failed(hr))
            std::fprintf(stderr, "camhost: %s failed (%s)\n", method,
                         host::HResultText(hr).c_str());
    };
    if (zones) {
        call("SetSource", {o.url, std::string("mpeg4"), 1L});
    } else {
        call("SetSource", {o.url, o.type, o.panTilt, o.rate, 0L, 0L});
        if (o.size)
            call("SetSize", {long(o.size)});
        call("StartPlay", {0L, std::string()});
    }

    if (o.seconds > 0)
        QTimer::singleShot(int(o.seconds * 1000), &app, &QApplication::quit);
    int status = app.exec();

    if (!o.screenshot.empty() && !window->grab().save(QString::fromStdString(o.screenshot)))
        std::fprintf(stderr, "camhost: cannot write %s\n", o.screenshot.c_str());
    const std::string stats = control->Statistics();
    // Stop the stream before the camera goes, so the client sees an orderly end.
    call("StopPlay", {});
    if (o.stats) {
        std::printf("%s\n", stats.c_str());
        std::fflush(stdout);
    }
    return status;
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
            ::setenv("CAMCTL_SETTINGS", (m_dir / "settings.reg").c_str(), 1);
        }
    }
    ~PrivateStore()
    {
        std::error_code ec;
        if (!m_dir.empty())
            std::filesystem::remove_all(m_dir, ec);
    }
    bool Made() const { return !m_dir.empty(); }

private:
    std::filesystem::path m_dir;
};

bool RegisterBuiltModules()
{
    return RegisterModule(CAMHOST_VUELO_MODULE, true) && RegisterModule(CAMHOST_MOZON_MODULE, true);
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

    if (o.module == "register" || o.module == "unregister")
        return RunRegistration(o);

    std::unique_ptr<PrivateStore> privateStore;
    if (o.demo) {
        privateStore = std::make_unique<PrivateStore>();
        if (!privateStore->Made() || !RegisterBuiltModules()) {
            std::fprintf(stderr, "camhost: cannot register the demo's modules\n");
            return 1;
        }
    }

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

    return RunControl(app, o);
}
