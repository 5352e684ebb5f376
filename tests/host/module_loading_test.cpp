// The modules as a browser meets them: loaded from their files, registered into a private
// store, their controls made by ProgID and scripted by method name against the simulated camera.

#include "camsim/camera.h"
#include "codec/motion/motion_grid.h"
#include "codec/mpeg4/decoder.h"
#include "host/control_host.h"
#include "module/identifiers.h"
#include "module/registration.h"
#include "platform/settings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

using namespace component;
using platform::SettingsRoot;
using platform::SettingsStore;

namespace {

std::filesystem::path g_store;

SettingsStore Store()
{
    return SettingsStore(g_store);
}

std::string Clsid(const Guid& g)
{
    return "CLSID\\" + g.ToString();
}

// Runs the event loop until `done` or a generous bound; the bound only ends a failing test.
bool WaitFor(const std::function<bool()>& done, int ms = 20000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

long Number(const std::string& json, const std::string& key)
{
    const size_t at = json.find("\"" + key + "\":");
    return at == std::string::npos ? -1 : std::atol(json.c_str() + at + key.size() + 3);
}

std::unique_ptr<host::ModuleFile> Open(const char* path)
{
    std::string error;
    auto file = host::ModuleFile::Open(path, error);
    EXPECT_TRUE(file) << error;
    return file;
}

class ModuleLoading : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        for (const char* path : {VUELO_MODULE, MOZON_MODULE}) {
            auto file = Open(path);
            ASSERT_TRUE(file);
            ASSERT_EQ(file->Register(), S_OK);
        }
    }
};

} // namespace

TEST_F(ModuleLoading, LoadingRaisesTheConnectionLimitAndRegistersTheModulesOwnFile)
{
    // main() left 7 in both values before either module was loaded.
    const SettingsStore store = Store();
    EXPECT_EQ(store.GetDword(SettingsRoot::CurrentUser, kInternetSettingsKey,
                             "MaxConnectionsPer1_0Server"),
              25u);
    EXPECT_EQ(
        store.GetDword(SettingsRoot::CurrentUser, kInternetSettingsKey, "MaxConnectionsPerServer"),
        25u);

    for (auto [ids, path] : {std::pair{&kVueloIds, VUELO_MODULE}, {&kMozonIds, MOZON_MODULE}}) {
        const auto found = FindControl(store, ids->controlProgId);
        ASSERT_TRUE(found) << ids->controlProgId;
        EXPECT_EQ(found->classId, ids->controlClassId);
        EXPECT_EQ(found->serverPath, std::filesystem::canonical(path).string());
        EXPECT_TRUE(found->safeForScripting);
        EXPECT_TRUE(found->safeForInitializing);
        EXPECT_EQ(InprocServerOf(store, ids->pageClassId), found->serverPath);
    }
}

TEST_F(ModuleLoading, EachModulesDecoderHasItsOwnProfile)
{
    for (auto [path, width, height] :
         {std::tuple{VUELO_MODULE, 1024, 768}, std::tuple{MOZON_MODULE, 640, 480}}) {
        auto file = Open(path);
        auto create = reinterpret_cast<DECODER* (*)()>(file->Symbol("decoder_create"));
        auto destroy = reinterpret_cast<int (*)(DECODER*)>(file->Symbol("decoder_destroy"));
        ASSERT_TRUE(create && destroy) << path;
        DECODER* d = create();
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->width, width) << path;
        EXPECT_EQ(d->height, height) << path;
        EXPECT_EQ(destroy(d), 0);

        // The exported grid is the module's own copy, and works as the library's.
        auto detect = reinterpret_cast<decltype(&MotionDetect)>(file->Symbol("MotionDetect"));
        ASSERT_TRUE(detect);
        std::vector<unsigned char> a(32 * 32, 10), b(32 * 32, 10), grid(9, 0xEE);
        b[0] = 200;
        detect(a.data(), b.data(), grid.data(), 32, 32, 5);
        EXPECT_EQ(grid[0], 1);
        EXPECT_EQ(grid[1], 0);
    }
}

TEST_F(ModuleLoading, TheViewerIsMadeByProgIdAndScriptedByName)
{
    camsim::Camera camera;
    ASSERT_TRUE(camera.Start());
    std::string error;
    auto control = host::ScriptedControl::Create(Store(), "VUELO.VueloCtrl.1", error);
    ASSERT_TRUE(control) << error;
    auto file = Open(VUELO_MODULE);
    EXPECT_EQ(file->CanUnloadNow(), S_FALSE);
    QWidget* window = control->Widget();
    ASSERT_NE(window, nullptr);
    window->show();

    DispatchResult result;
    ASSERT_EQ(control->Call("SetSource",
                            {camera.BaseUrl() + "img/mjpeg.cgi", std::string("jpeg"),
                             std::string("on"), std::string(), 0L, 0L},
                            &result),
              S_OK);
    EXPECT_EQ(result, DispatchResult(true));
    // Names resolve without regard to case, as a page's script writes them.
    ASSERT_EQ(control->Call("startplay", {0L, std::string()}), S_OK);
    EXPECT_TRUE(WaitFor([&] { return Number(control->Statistics(), "painted") > 0; }))
        << control->Statistics();
    ASSERT_EQ(control->Call("SetSize", {160L}, &result), S_OK);
    ASSERT_EQ(control->Call("GetSize", {}, &result), S_OK);
    EXPECT_EQ(result, DispatchResult(160L));
    EXPECT_EQ(control->Call("NoSuchMethod", {}), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(control->Call("StopPlay", {}), S_OK);

    control.reset();
    EXPECT_EQ(file->CanUnloadNow(), S_OK);
}

TEST_F(ModuleLoading, TheZoneControlIsMadeByProgIdAndShowsLiveVideo)
{
    camsim::Camera camera;
    ASSERT_TRUE(camera.Start());
    std::string base = camera.BaseUrl();
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    std::string error;
    auto control = host::ScriptedControl::Create(Store(), "MOZON.MozonCtrl.1", error);
    ASSERT_TRUE(control) << error;
    control->Widget()->show();
    DispatchResult result;
    ASSERT_EQ(control->Call("SetSource", {base, std::string("mpeg4"), 1L}, &result), S_OK);
    EXPECT_EQ(result, DispatchResult(true));
    EXPECT_TRUE(WaitFor([&] { return Number(control->Statistics(), "decoded") > 0; }))
        << control->Statistics();
    EXPECT_EQ(control->Call("StopPlay", {}), S_OK);
}

TEST_F(ModuleLoading, ObjectsKeepTheModuleLoadedUntilTheyGo)
{
    auto file = Open(MOZON_MODULE);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(file->GetClassObject(kMozonIds.pageClassId, factory), S_OK);
    EXPECT_EQ(file->CanUnloadNow(), S_OK);
    ComponentPtr page;
    ASSERT_EQ(factory->CreateInstance(page), S_OK);
    EXPECT_EQ(file->CanUnloadNow(), S_FALSE);
    page.reset();
    EXPECT_EQ(file->CanUnloadNow(), S_OK);

    IClassFactory* none = nullptr;
    EXPECT_EQ(file->GetClassObject(kVueloIds.controlClassId, none), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(none, nullptr);
}

TEST_F(ModuleLoading, PropertyPagesHaveTheirCaptionAndNothingToEdit)
{
    for (auto [ids, path] : {std::pair{&kVueloIds, VUELO_MODULE}, {&kMozonIds, MOZON_MODULE}}) {
        auto file = Open(path);
        IClassFactory* factory = nullptr;
        ASSERT_EQ(file->GetClassObject(ids->pageClassId, factory), S_OK);
        ComponentPtr page;
        ASSERT_EQ(factory->CreateInstance(page), S_OK);
        auto* window = static_cast<QWidget*>(page->Window());
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Général"));
        EXPECT_TRUE(window->findChildren<QWidget*>().isEmpty());
        int32_t id = 0;
        EXPECT_EQ(page->GetIdOfName("SetSource", id), DISP_E_UNKNOWNNAME);
    }
}

TEST_F(ModuleLoading, AboutBoxIsModalWithIconTextAndOk)
{
    for (auto [ids, caption] : {std::pair{&kVueloIds, "A propos de Vuelo Control"},
                                {&kMozonIds, "About Mozon Control"}}) {
        std::string error;
        auto control = host::ScriptedControl::Create(Store(), ids->controlProgId, error);
        ASSERT_TRUE(control) << error;
        control->Widget()->show();
        QString title, text;
        bool hadIcon = false, modal = false, closed = false;
        // Looked at from inside the dialog's own event loop, then closed with its button.
        std::function<void()> inspect = [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            if (!dialog) {
                QTimer::singleShot(10, inspect);
                return;
            }
            modal = dialog->isModal();
            title = dialog->windowTitle();
            auto* icon = dialog->findChild<QLabel*>("aboutIcon");
            hadIcon = icon && !icon->pixmap().isNull();
            if (auto* label = dialog->findChild<QLabel*>("aboutText"))
                text = label->text();
            if (auto* ok = dialog->findChild<QPushButton*>("okButton"); ok && ok->text() == "OK") {
                ok->click();
                closed = true;
            } else {
                dialog->close();
            }
        };
        QTimer::singleShot(0, inspect);
        ASSERT_EQ(control->Call("AboutBox", {}), S_OK);
        EXPECT_TRUE(closed) << "an OK button closes it";
        EXPECT_TRUE(modal);
        EXPECT_EQ(title, QString::fromUtf8(caption));
        EXPECT_TRUE(hadIcon);
        EXPECT_TRUE(text.contains(
            QString::fromUtf8(ids->fileDescription.data(), qsizetype(ids->fileDescription.size()))))
            << text.toStdString();
    }
}

TEST_F(ModuleLoading, AClassWithoutTheScriptableCategoryIsRefused)
{
    SettingsStore store = Store();
    const std::string category = Clsid(kVueloIds.controlClassId) + "\\Implemented Categories\\" +
                                 kCatidSafeForScripting.ToString();
    ASSERT_TRUE(store.DeleteKey(SettingsRoot::ClassesRoot, category));
    std::string error;
    EXPECT_FALSE(host::ScriptedControl::Create(store, "VUELO.VueloCtrl.1", error));
    EXPECT_NE(error.find("Controls safely scriptable!"), std::string::npos) << error;

    // Registering again marks it safe again.
    auto file = Open(VUELO_MODULE);
    ASSERT_EQ(file->Register(), S_OK);
    error.clear();
    EXPECT_TRUE(host::ScriptedControl::Create(Store(), "VUELO.VueloCtrl.1", error)) << error;
}

TEST_F(ModuleLoading, UnregisteringRemovesTheClassButNotCategoriesOrLimits)
{
    auto file = Open(MOZON_MODULE);
    ASSERT_EQ(file->Unregister(), S_OK);
    SettingsStore store = Store();
    EXPECT_FALSE(FindControl(store, "MOZON.MozonCtrl.1"));
    EXPECT_FALSE(store.KeyExists(SettingsRoot::ClassesRoot, Clsid(kMozonIds.controlClassId)));
    EXPECT_FALSE(store.KeyExists(SettingsRoot::ClassesRoot, "MOZON.MozonCtrl.1"));
    EXPECT_TRUE(store.KeyExists(SettingsRoot::ClassesRoot,
                                "Component Categories\\" + kCatidSafeForScripting.ToString()));
    EXPECT_EQ(
        store.GetDword(SettingsRoot::CurrentUser, kInternetSettingsKey, "MaxConnectionsPerServer"),
        25u);
    std::string error;
    EXPECT_FALSE(host::ScriptedControl::Create(store, "MOZON.MozonCtrl.1", error));
    EXPECT_NE(error.find("not registered"), std::string::npos) << error;
    // The other module is untouched.
    EXPECT_TRUE(FindControl(store, "VUELO.VueloCtrl.1"));
    ASSERT_EQ(file->Register(), S_OK);
}

int main(int argc, char** argv)
{
    // A private store, set before any module is loaded: loading writes into it.
    char dir[] = "/tmp/module-loading-XXXXXX";
    if (!::mkdtemp(dir))
        return 1;
    g_store = std::filesystem::path(dir) / "settings.reg";
    ::setenv("CAMCTL_SETTINGS", g_store.c_str(), 1);
    {
        SettingsStore store(g_store);
        store.SetDword(SettingsRoot::CurrentUser, kInternetSettingsKey,
                       "MaxConnectionsPer1_0Server", 7);
        store.SetDword(SettingsRoot::CurrentUser, kInternetSettingsKey, "MaxConnectionsPerServer",
                       7);
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int status;
    {
        QApplication app(argc, argv);
        testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return status;
}
