// The four entry points of a control module and its module object. Built into each module
// library; ThisModule() says which module it is.

#include "module/module_entry.h"
#include "module/module_exports.h"
#include "platform/http.h"
#include "platform/settings.h"

#include <dlfcn.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace component {
namespace {

static_assert(sizeof(CAMCTL_GUID) == sizeof(Guid));

Guid FromC(const CAMCTL_GUID& g)
{
    Guid out;
    out.data1 = g.data1;
    out.data2 = g.data2;
    out.data3 = g.data3;
    std::memcpy(out.data4.data(), g.data4, 8);
    return out;
}

platform::SettingsStore ProcessStore()
{
    return platform::SettingsStore(platform::SettingsStore::DefaultPath());
}

// The file this code was loaded from, which registration names as the in-process server.
std::string ThisFile()
{
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) || !info.dli_fname)
        return {};
    std::error_code ec;
    std::filesystem::path path = std::filesystem::canonical(info.dli_fname, ec);
    return ec ? std::string(info.dli_fname) : path.string();
}

class ModuleObject
{
public:
    ModuleObject() : m_binding(ThisModule()), m_module(m_binding.definition)
    {
        m_module.SetCreator(ClassKind::Control, m_binding.control);
        m_module.SetCreator(ClassKind::PropertyPage, m_binding.propertyPage);
        platform::SettingsStore store = ProcessStore();
        m_module.Start(store);
        // The limit was just written; this module's HTTP layer works with it from now on.
        platform::LoadConnectionLimit(store);
    }
    ~ModuleObject() { m_module.End(); }

    ControlModule& Module() { return m_module; }

private:
    ModuleBinding m_binding;
    ControlModule m_module;
};

ModuleObject& TheModuleObject()
{
    static ModuleObject object;
    return object;
}

// Started when the library is loaded, also when it is loaded only to register itself.
[[maybe_unused]] ModuleObject& g_startedOnLoad = TheModuleObject();

ControlModule& LoadedModule()
{
    return TheModuleObject().Module();
}

} // namespace
} // namespace component

extern "C" {

int32_t DllRegisterServer(void)
{
    platform::SettingsStore store = component::ProcessStore();
    return component::LoadedModule().RegisterServer(store, component::ThisFile());
}

int32_t DllUnregisterServer(void)
{
    platform::SettingsStore store = component::ProcessStore();
    return component::LoadedModule().UnregisterServer(store);
}

int32_t DllGetClassObject(const CAMCTL_GUID* clsid, const CAMCTL_GUID* iid, void** factory)
{
    if (!factory)
        return component::E_POINTER;
    *factory = nullptr;
    if (!clsid || !iid)
        return component::E_INVALIDARG;
    const CAMCTL_GUID classFactory = CAMCTL_IID_CLASSFACTORY;
    if (std::memcmp(iid, &classFactory, sizeof classFactory) != 0)
        return component::E_NOINTERFACE;
    component::IClassFactory* found = nullptr;
    const component::HResult hr =
        component::LoadedModule().GetClassObject(component::FromC(*clsid), found);
    *factory = found;
    return hr;
}

int32_t DllCanUnloadNow(void)
{
    return component::LoadedModule().CanUnloadNow();
}

} // extern "C"
