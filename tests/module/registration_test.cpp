#include "module/class_factory.h"
#include "module/registration.h"
#include "platform/settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <unistd.h>

using namespace component;
using platform::SettingsRoot;
using platform::SettingsStore;

namespace {

constexpr auto kCR = SettingsRoot::ClassesRoot;
constexpr const char* kVueloPath = "/opt/camctl/lib/libvuelo.so";
constexpr const char* kMozonPath = "/opt/camctl/lib/libmozon.so";

std::string Clsid(const Guid& g)
{
    return "CLSID\\" + g.ToString();
}

std::string Slurp(const std::filesystem::path& p)
{
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

std::filesystem::path MakeDir()
{
    char tmpl[] = "/tmp/camctl-module-XXXXXX";
    if (!::mkdtemp(tmpl))
        throw std::runtime_error("mkdtemp failed");
    return tmpl;
}

class Registration : public ::testing::Test
{
protected:
    ~Registration() override { std::filesystem::remove_all(m_dir); }

    std::filesystem::path File() const { return m_dir / "settings.reg"; }
    std::optional<std::string> Text(const std::string& key, const char* name = "") const
    {
        return m_store.GetString(kCR, key, name);
    }
    bool Has(const std::string& key) const { return m_store.KeyExists(kCR, key); }

    const std::filesystem::path m_dir = MakeDir();
    SettingsStore m_store{File()};
};

} // namespace

TEST_F(Registration, WritesClassProgIdTypeLibraryPageAndCategories)
{
    ASSERT_EQ(RegisterServer(m_store, VueloModule(), kVueloPath), S_OK);
    const ModuleIdentifiers& ids = kVueloIds;
    const std::string cls = Clsid(ids.controlClassId);

    EXPECT_EQ(Text(cls), "Vuelo Control");
    EXPECT_EQ(Text(cls + "\\ProgID"), "VUELO.VueloCtrl.1");
    EXPECT_EQ(Text(cls + "\\InprocServer32"), kVueloPath);
    EXPECT_EQ(Text(cls + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(Text(cls + "\\MiscStatus\\1"), "131473"); // 0x20191
    EXPECT_EQ(Text(cls + "\\ToolboxBitmap32"), std::string(kVueloPath) + ", 1");
    EXPECT_EQ(Text(cls + "\\TypeLib"), ids.typeLibId.ToString());
    EXPECT_EQ(Text(cls + "\\Version"), "1.0");
    EXPECT_TRUE(Has(cls + "\\Control"));
    EXPECT_TRUE(Has(cls + "\\Insertable"));

    EXPECT_EQ(Text("VUELO.VueloCtrl.1"), "Vuelo Control");
    EXPECT_EQ(Text("VUELO.VueloCtrl.1\\CLSID"), ids.controlClassId.ToString());

    const std::string lib = "TypeLib\\" + ids.typeLibId.ToString() + "\\1.0";
    EXPECT_EQ(Text(lib), "Vuelo ActiveX Control module");
    EXPECT_EQ(Text(lib + "\\0\\win32"), kVueloPath);
    EXPECT_EQ(Text(lib + "\\HELPDIR"), "/opt/camctl/lib");
    EXPECT_EQ(Text("Interface\\" + ids.dispatchId.ToString()), "_DVuelo");
    EXPECT_EQ(Text("Interface\\" + ids.eventsId.ToString()), "_DVueloEvents");
    EXPECT_EQ(Text("Interface\\" + ids.eventsId.ToString() + "\\TypeLib"),
              ids.typeLibId.ToString());

    EXPECT_EQ(Text(Clsid(ids.pageClassId)), "Page de propriétés de Vuelo");
    EXPECT_EQ(Text(Clsid(ids.pageClassId) + "\\InprocServer32"), kVueloPath);

    EXPECT_EQ(Text("Component Categories\\" + kCatidSafeForScripting.ToString(), "409"),
              "Controls safely scriptable!");
    EXPECT_EQ(Text("Component Categories\\" + kCatidSafeForInitializing.ToString(), "409"),
              "Controls safely initializable from persistent data!");
    EXPECT_TRUE(ImplementsCategory(m_store, ids.controlClassId, kCatidSafeForScripting));
    EXPECT_TRUE(ImplementsCategory(m_store, ids.controlClassId, kCatidSafeForInitializing));
    // Only the control is marked safe, not its property page.
    EXPECT_FALSE(ImplementsCategory(m_store, ids.pageClassId, kCatidSafeForScripting));
}

TEST_F(Registration, RegisteringTwiceLeavesTheSameEntries)
{
    ControlModule vuelo(VueloModule());
    ASSERT_EQ(vuelo.RegisterServer(m_store, kVueloPath), S_OK);
    const std::string once = Slurp(File());
    ASSERT_EQ(vuelo.RegisterServer(m_store, kVueloPath), S_OK);
    EXPECT_EQ(Slurp(File()), once);
}

TEST_F(Registration, UnregisteringRemovesOneModuleAndKeepsCategoriesAndLimits)
{
    ControlModule vuelo(VueloModule());
    vuelo.Start(m_store);
    ASSERT_EQ(vuelo.RegisterServer(m_store, kVueloPath), S_OK);
    ASSERT_EQ(RegisterServer(m_store, MozonModule(), kMozonPath), S_OK);

    ASSERT_EQ(vuelo.UnregisterServer(m_store), S_OK);
    const ModuleIdentifiers& ids = kVueloIds;
    EXPECT_FALSE(Has(Clsid(ids.controlClassId)));
    EXPECT_FALSE(Has("VUELO.VueloCtrl.1"));
    EXPECT_FALSE(Has(Clsid(ids.pageClassId)));
    EXPECT_FALSE(Has("TypeLib\\" + ids.typeLibId.ToString()));
    EXPECT_FALSE(Has("Interface\\" + ids.dispatchId.ToString()));
    EXPECT_FALSE(Has("Interface\\" + ids.eventsId.ToString()));
    EXPECT_FALSE(FindControl(m_store, "VUELO.VueloCtrl.1"));

    for (const Guid& cat : {kCatidSafeForScripting, kCatidSafeForInitializing})
        EXPECT_TRUE(Text("Component Categories\\" + cat.ToString(), "409")) << cat.ToString();
    for (const char* name : {"MaxConnectionsPer1_0Server", "MaxConnectionsPerServer"})
        EXPECT_EQ(m_store.GetDword(SettingsRoot::CurrentUser, kInternetSettingsKey, name), 25u);

    // The other module is untouched.
    auto mozon = FindControl(m_store, "MOZON.MozonCtrl.1");
    ASSERT_TRUE(mozon);
    EXPECT_EQ(mozon->classId, kMozonIds.controlClassId);
    EXPECT_TRUE(mozon->safeForScripting);

    // A second unregistration finds no type library, as the library's own removal reports it.
    EXPECT_EQ(vuelo.UnregisterServer(m_store), SELFREG_E_TYPELIB);
    // And the module registers again after it.
    EXPECT_EQ(vuelo.RegisterServer(m_store, kVueloPath), S_OK);
    EXPECT_TRUE(FindControl(m_store, "VUELO.VueloCtrl.1"));
}

TEST_F(Registration, FailuresNameTheStepThatFailed)
{
    // A store whose folder cannot exist: the first step, the type library, fails.
    std::ofstream(m_dir / "plain-file") << "x";
    SettingsStore blocked(m_dir / "plain-file" / "settings.reg");
    EXPECT_EQ(RegisterServer(blocked, VueloModule(), kVueloPath), SELFREG_E_TYPELIB);
    EXPECT_EQ(UnregisterServer(blocked, VueloModule()), SELFREG_E_TYPELIB);

    // A control without a ProgID cannot be registered; the library before it was.
    SettingsStore& store = m_store;
    ModuleIdentifiers broken = kVueloIds;
    broken.controlProgId = "";
    const ModuleDefinition def{broken, VueloTypeLibrary()};
    EXPECT_EQ(RegisterServer(store, def, kVueloPath), SELFREG_E_CLASS);
    EXPECT_TRUE(store.KeyExists(kCR, "TypeLib\\" + broken.typeLibId.ToString()));
    EXPECT_FALSE(ImplementsCategory(store, broken.controlClassId, kCatidSafeForScripting));
    // Unregistering cleans up such a half registration: absent classes are no failure.
    EXPECT_EQ(UnregisterServer(store, def), S_OK);
    EXPECT_FALSE(store.KeyExists(kCR, "TypeLib\\" + broken.typeLibId.ToString()));

    // Without a module file there is nothing to point the library at.
    EXPECT_EQ(RegisterServer(store, MozonModule(), ""), SELFREG_E_TYPELIB);
}

TEST_F(Registration, EveryStartSetsTheConnectionLimitsWhateverTheStartHookSays)
{
    auto limit = [&](const char* name) {
        return m_store.GetDword(SettingsRoot::CurrentUser, kInternetSettingsKey, name);
    };
    ASSERT_TRUE(m_store.SetDword(SettingsRoot::CurrentUser, kInternetSettingsKey,
                                 "MaxConnectionsPer1_0Server", 4));
    ASSERT_TRUE(m_store.SetDword(SettingsRoot::CurrentUser, kInternetSettingsKey,
                                 "MaxConnectionsPerServer", 2));

    ControlModule m(MozonModule());
    int started = 0, ended = 0;
    m.SetHooks({[&] { return ++started, false; }, [&] { ++ended; }});
    EXPECT_FALSE(m.Start(m_store));
    EXPECT_EQ(limit("MaxConnectionsPer1_0Server"), 25u);
    EXPECT_EQ(limit("MaxConnectionsPerServer"), 25u);

    // The next load overwrites whatever was set in between.
    ASSERT_TRUE(m_store.SetDword(SettingsRoot::CurrentUser, kInternetSettingsKey,
                                 "MaxConnectionsPerServer", 6));
    m.SetHooks({[&] { return ++started, true; }, [&] { ++ended; }});
    EXPECT_TRUE(m.Start(m_store));
    EXPECT_EQ(limit("MaxConnectionsPerServer"), 25u);
    m.End();
    EXPECT_EQ(started, 2);
    EXPECT_EQ(ended, 1);
    // Nothing but the limits: a start registers nothing.
    EXPECT_FALSE(FindControl(m_store, "MOZON.MozonCtrl.1"));
}

TEST_F(Registration, HostLookupFollowsProgIdToClassToModuleFile)
{
    ASSERT_EQ(RegisterServer(m_store, VueloModule(), kVueloPath), S_OK);
    ASSERT_EQ(RegisterServer(m_store, MozonModule(), kMozonPath), S_OK);

    auto vuelo = FindControl(m_store, "vuelo.vueloctrl.1"); // names are case-blind
    ASSERT_TRUE(vuelo);
    EXPECT_EQ(vuelo->classId, kVueloIds.controlClassId);
    EXPECT_EQ(vuelo->serverPath, kVueloPath);
    EXPECT_TRUE(vuelo->safeForScripting);
    EXPECT_TRUE(vuelo->safeForInitializing);
    EXPECT_EQ(InprocServerOf(m_store, kMozonIds.controlClassId), kMozonPath);

    EXPECT_FALSE(FindControl(m_store, "VUELO.VueloCtrl.2"));
    EXPECT_FALSE(FindControl(m_store, ""));
    // A ProgID whose class id is not one, and one whose class has no module file.
    ASSERT_TRUE(m_store.SetString(kCR, "Bad.Ctrl.1\\CLSID", "", "not-a-guid"));
    EXPECT_FALSE(FindControl(m_store, "Bad.Ctrl.1"));
    ASSERT_TRUE(
        m_store.SetString(kCR, "Orphan.Ctrl.1\\CLSID", "", kVueloIds.pageClassId.ToString()));
    ASSERT_TRUE(m_store.DeleteKey(kCR, Clsid(kVueloIds.pageClassId) + "\\InprocServer32"));
    EXPECT_FALSE(FindControl(m_store, "Orphan.Ctrl.1"));
}

TEST_F(Registration, AClassWithoutTheScriptableCategoryIsNotSafeForScripting)
{
    ASSERT_EQ(RegisterServer(m_store, MozonModule(), kMozonPath), S_OK);
    ASSERT_TRUE(m_store.DeleteKey(kCR, Clsid(kMozonIds.controlClassId) +
                                           "\\Implemented Categories\\" +
                                           kCatidSafeForScripting.ToString()));
    auto mozon = FindControl(m_store, "MOZON.MozonCtrl.1");
    ASSERT_TRUE(mozon);
    EXPECT_FALSE(mozon->safeForScripting);
    EXPECT_TRUE(mozon->safeForInitializing);
    // The category itself is still known; only this class no longer claims it.
    EXPECT_TRUE(Text("Component Categories\\" + kCatidSafeForScripting.ToString(), "409"));
}
