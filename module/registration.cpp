#include "module/registration.h"

#include "platform/settings.h"

#include <cstdio>
#include <filesystem>

namespace component {

using platform::SettingsRoot;
using platform::SettingsStore;

namespace {

constexpr auto kClasses = SettingsRoot::ClassesRoot;
// The dispatch proxy every automation interface is marshalled with.
constexpr std::string_view kDispatchProxy = "{00020420-0000-0000-C000-000000000046}";
constexpr size_t kCategoryDescriptionMax = 127;

std::string ClassKey(const Guid& clsid)
{
    return "CLSID\\" + clsid.ToString();
}
std::string InterfaceKey(const Guid& iid)
{
    return "Interface\\" + iid.ToString();
}
std::string CategoryKey(const Guid& catid)
{
    return "Component Categories\\" + catid.ToString();
}

std::string VersionText(uint16_t major, uint16_t minor)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x.%x", unsigned{major}, unsigned{minor});
    return buf;
}

std::string TypeLibVersionKey(const TypeLibraryDesc& lib)
{
    return "TypeLib\\" + lib.libId.ToString() + "\\" + VersionText(lib.major, lib.minor);
}

// Stops at the first failed write, so a step reports one outcome for all its entries.
class Writer
{
public:
    explicit Writer(SettingsStore& s) : m_store(s) {}
    void Text(const std::string& key, std::string_view name, std::string_view value)
    {
        m_ok = m_ok && m_store.SetString(kClasses, key, name, value);
    }
    // The store keeps only keys that hold a value; an empty default marks a key that must exist.
    void Key(const std::string& key) { Text(key, "", ""); }
    bool Ok() const { return m_ok; }

private:
    SettingsStore& m_store;
    bool m_ok = true;
};

// The store says false both for "nothing there" and for a failed write; only the second fails.
bool Remove(SettingsStore& s, const std::string& key)
{
    return !s.KeyExists(kClasses, key) || s.DeleteKey(kClasses, key);
}

bool RegisterTypeLib(SettingsStore& s, const TypeLibraryDesc& lib, std::string_view path)
{
    if (lib.name.empty() || path.empty())
        return false;
    Writer w(s);
    const std::string version = TypeLibVersionKey(lib);
    const std::string libId = lib.libId.ToString();
    w.Text(version, "", lib.helpString);
    w.Text(version + "\\0\\win32", "", path);
    w.Text(version + "\\FLAGS", "", "0");
    w.Text(version + "\\HELPDIR", "", std::filesystem::path(path).parent_path().string());
    for (const InterfaceDesc* itf : {&lib.dispatch, &lib.events}) {
        const std::string key = InterfaceKey(itf->iid);
        w.Text(key, "", itf->name);
        w.Text(key + "\\ProxyStubClsid32", "", kDispatchProxy);
        w.Text(key + "\\ProxyStubClsid", "", kDispatchProxy);
        w.Text(key + "\\TypeLib", "", libId);
        w.Text(key + "\\TypeLib", "Version", VersionText(lib.major, lib.minor));
    }
    return w.Ok();
}

bool RegisterControlClass(SettingsStore& s, const ModuleDefinition& m, std::string_view path)
{
    const ModuleIdentifiers& ids = m.ids;
    if (ids.controlProgId.empty() || ids.controlTypeName.empty() || path.empty())
        return false;
    Writer w(s);
    const std::string key = ClassKey(ids.controlClassId);
    const std::string clsid = ids.controlClassId.ToString();
    w.Text(key, "", ids.controlTypeName);
    w.Text(key + "\\ProgID", "", ids.controlProgId);
    w.Text(key + "\\InprocServer32", "", path);
    w.Text(key + "\\InprocServer32", "ThreadingModel", kThreadingModel);
    w.Key(key + "\\Control");
    w.Key(key + "\\Insertable");
    w.Text(key + "\\ToolboxBitmap32", "",
           std::string(path) + ", " + std::to_string(ids.toolboxBitmap));
    w.Text(key + "\\MiscStatus", "", "0");
    w.Text(key + "\\MiscStatus\\1", "", std::to_string(ids.miscStatus)); // content aspect
    w.Text(key + "\\TypeLib", "", m.typeLib.libId.ToString());
    w.Text(key + "\\Version", "", VersionText(m.typeLib.major, m.typeLib.minor));

    const std::string progId(ids.controlProgId);
    w.Text(progId, "", ids.controlTypeName);
    w.Text(progId + "\\CLSID", "", clsid);
    w.Key(progId + "\\Insertable");
    return w.Ok();
}

bool RegisterPageClass(SettingsStore& s, const ModuleIdentifiers& ids, std::string_view path)
{
    if (ids.pageName.empty() || path.empty())
        return false;
    Writer w(s);
    const std::string key = ClassKey(ids.pageClassId);
    w.Text(key, "", ids.pageName);
    w.Text(key + "\\InprocServer32", "", path);
    w.Text(key + "\\InprocServer32", "ThreadingModel", kThreadingModel);
    return w.Ok();
}

bool RegisterCategory(SettingsStore& s, const Guid& catid, std::string_view description,
                      const Guid& clsid)
{
    Writer w(s);
    w.Text(CategoryKey(catid), "409", description.substr(0, kCategoryDescriptionMax));
    w.Key(ClassKey(clsid) + "\\Implemented Categories\\" + catid.ToString());
    return w.Ok();
}

} // namespace

HResult RegisterServer(SettingsStore& settings, const ModuleDefinition& module,
                       std::string_view modulePath)
{
    if (!RegisterTypeLib(settings, module.typeLib, modulePath))
        return SELFREG_E_TYPELIB;
    if (!RegisterControlClass(settings, module, modulePath) ||
        !RegisterPageClass(settings, module.ids, modulePath))
        return SELFREG_E_CLASS;
    const Guid& clsid = module.ids.controlClassId;
    if (!RegisterCategory(settings, kCatidSafeForInitializing, kCatSafeForInitializingName, clsid))
        return E_FAIL;
    if (!RegisterCategory(settings, kCatidSafeForScripting, kCatSafeForScriptingName, clsid))
        return E_FAIL;
    return S_OK;
}

HResult UnregisterServer(SettingsStore& settings, const ModuleDefinition& module)
{
    const TypeLibraryDesc& lib = module.typeLib;
    const std::string version = TypeLibVersionKey(lib);
    if (!settings.KeyExists(kClasses, version) || !settings.DeleteKey(kClasses, version) ||
        !Remove(settings, InterfaceKey(lib.dispatch.iid)) ||
        !Remove(settings, InterfaceKey(lib.events.iid)))
        return SELFREG_E_TYPELIB;
    const ModuleIdentifiers& ids = module.ids;
    if (!Remove(settings, ClassKey(ids.controlClassId)) ||
        !Remove(settings, std::string(ids.controlProgId)) ||
        !Remove(settings, ClassKey(ids.pageClassId)))
        return SELFREG_E_CLASS;
    return S_OK;
}

bool SetConnectionLimits(SettingsStore& settings)
{
    return settings.SetDword(SettingsRoot::CurrentUser, kInternetSettingsKey,
                             "MaxConnectionsPer1_0Server", kMaxConnections) &&
           settings.SetDword(SettingsRoot::CurrentUser, kInternetSettingsKey,
                             platform::kMaxConnectionsPerServerName, kMaxConnections);
}

std::optional<Guid> ClassIdOfProgId(const SettingsStore& settings, std::string_view progId)
{
    if (progId.empty())
        return std::nullopt;
    auto text = settings.GetString(kClasses, std::string(progId) + "\\CLSID", "");
    return text ? Guid::Parse(*text) : std::nullopt;
}

std::optional<std::string> InprocServerOf(const SettingsStore& settings, const Guid& clsid)
{
    auto path = settings.GetString(kClasses, ClassKey(clsid) + "\\InprocServer32", "");
    if (!path || path->empty())
        return std::nullopt;
    return path;
}

bool ImplementsCategory(const SettingsStore& settings, const Guid& clsid, const Guid& category)
{
    return settings.KeyExists(kClasses,
                              ClassKey(clsid) + "\\Implemented Categories\\" + category.ToString());
}

std::optional<RegisteredControl> FindControl(const SettingsStore& settings, std::string_view progId)
{
    auto clsid = ClassIdOfProgId(settings, progId);
    if (!clsid)
        return std::nullopt;
    auto path = InprocServerOf(settings, *clsid);
    if (!path)
        return std::nullopt;
    return RegisteredControl{*clsid, std::move(*path),
                             ImplementsCategory(settings, *clsid, kCatidSafeForScripting),
                             ImplementsCategory(settings, *clsid, kCatidSafeForInitializing)};
}

} // namespace component
