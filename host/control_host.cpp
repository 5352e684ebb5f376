#include "host/control_host.h"

#include "module/module_exports.h"
#include "module/registration.h"
#include "platform/settings.h"

#include <QWidget>

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

namespace host {

namespace {

CAMCTL_GUID ToC(const component::Guid& g)
{
    CAMCTL_GUID out;
    out.data1 = g.data1;
    out.data2 = g.data2;
    out.data3 = g.data3;
    std::memcpy(out.data4, g.data4.data(), sizeof out.data4);
    return out;
}

} // namespace

std::string HResultText(component::HResult hr)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

std::unique_ptr<ModuleFile> ModuleFile::Open(const std::string& path, std::string& error)
{
    // Local: two modules carry their own copies of the same code.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        error = "cannot load " + path + (why ? std::string(": ") + why : std::string());
        return nullptr;
    }
    std::unique_ptr<ModuleFile> file(new ModuleFile);
    file->m_handle = handle;
    file->m_register = reinterpret_cast<EntryPoint>(dlsym(handle, "DllRegisterServer"));
    file->m_unregister = reinterpret_cast<EntryPoint>(dlsym(handle, "DllUnregisterServer"));
    file->m_canUnload = reinterpret_cast<EntryPoint>(dlsym(handle, "DllCanUnloadNow"));
    file->m_getClassObject = reinterpret_cast<GetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
    if (!file->m_register || !file->m_unregister || !file->m_canUnload || !file->m_getClassObject) {
        error = path + " is not a control module";
        return nullptr;
    }
    return file;
}

component::HResult ModuleFile::GetClassObject(const component::Guid& clsid,
                                              component::IClassFactory*& factory) const
{
    const CAMCTL_GUID c = ToC(clsid);
    const CAMCTL_GUID iid = CAMCTL_IID_CLASSFACTORY;
    void* out = nullptr;
    const component::HResult hr = m_getClassObject(&c, &iid, &out);
    factory = component::Succeeded(hr) ? static_cast<component::IClassFactory*>(out) : nullptr;
    return factory || component::Failed(hr) ? hr : component::E_FAIL;
}

void* ModuleFile::Symbol(const char* name) const
{
    return dlsym(m_handle, name);
}

std::unique_ptr<ScriptedControl> ScriptedControl::Create(const platform::SettingsStore& store,
                                                         std::string_view progId,
                                                         std::string& error)
{
    const std::string name(progId);
    const auto found = component::FindControl(store, progId);
    if (!found) {
        error = name + " is not registered (camhost register MODULE-FILE registers a module)";
        return nullptr;
    }
    // A page may script only controls that say they are safe for it.
    if (!found->safeForScripting) {
        error = name + " is not marked \"" + std::string(component::kCatSafeForScriptingName) +
                "\"; it is not loaded";
        return nullptr;
    }
    std::unique_ptr<ScriptedControl> control(new ScriptedControl);
    control->m_classId = found->classId;
    control->m_module = ModuleFile::Open(found->serverPath, error);
    if (!control->m_module)
        return nullptr;
    component::IClassFactory* factory = nullptr;
    component::HResult hr = control->m_module->GetClassObject(found->classId, factory);
    if (component::Failed(hr)) {
        error = found->serverPath + " has no factory for " + name + " (" + HResultText(hr) + ")";
        return nullptr;
    }
    hr = factory->CreateInstance(control->m_object);
    if (component::Failed(hr) || !control->m_object) {
        error = "the factory of " + name + " failed (" + HResultText(hr) + ")";
        return nullptr;
    }
    return control;
}

component::HResult ScriptedControl::Call(std::string_view method,
                                         const std::vector<DispatchArg>& args,
                                         DispatchResult* result)
{
    int32_t id = 0;
    component::HResult hr = m_object->GetIdOfName(method, id);
    if (component::Failed(hr))
        return hr;
    DispatchResult r;
    hr = m_object->Invoke(id, args, r);
    if (result)
        *result = r;
    return hr;
}

QWidget* ScriptedControl::Widget() const
{
    return static_cast<QWidget*>(m_object->Window());
}

} // namespace host
