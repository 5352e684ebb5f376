#pragma once
// Loading controls as a browser does: a module file is opened and its entry points called; a
// control is found by ProgID through the settings store, made by its module's class factory and
// scripted by method name.

#include "module/class_factory.h"
#include "module/guid.h"
#include "platform/dispatch.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QWidget;

namespace platform {
class SettingsStore;
}

namespace host {

// An opened module file. Never closed again: widgets, timers and Qt's type registrations made
// by its code may outlive every object the host could count.
class ModuleFile
{
public:
    // Null with `error` set when the file does not load or lacks an entry point.
    static std::unique_ptr<ModuleFile> Open(const std::string& path, std::string& error);

    component::HResult Register() const { return m_register(); }
    component::HResult Unregister() const { return m_unregister(); }
    component::HResult CanUnloadNow() const { return m_canUnload(); }
    component::HResult GetClassObject(const component::Guid& clsid,
                                      component::IClassFactory*& factory) const;
    // Any other exported symbol, null when absent.
    void* Symbol(const char* name) const;

private:
    using EntryPoint = int32_t (*)();
    using GetClassObjectFn = int32_t (*)(const void*, const void*, void**);

    void* m_handle = nullptr;
    EntryPoint m_register = nullptr, m_unregister = nullptr, m_canUnload = nullptr;
    GetClassObjectFn m_getClassObject = nullptr;
};

class ScriptedControl
{
public:
    // Null with `error` set when the ProgID or its class is not registered, the class is not
    // marked safe for scripting, its module does not load or its factory fails.
    static std::unique_ptr<ScriptedControl> Create(const platform::SettingsStore& store,
                                                   std::string_view progId, std::string& error);

    // S_OK with the method's result; DISP_E_UNKNOWNNAME for a name the control does not have.
    component::HResult Call(std::string_view method, const std::vector<DispatchArg>& args,
                            DispatchResult* result = nullptr);
    QWidget* Widget() const;
    std::string Statistics() { return m_object->Statistics(); }
    const component::Guid& ClassId() const { return m_classId; }

private:
    ScriptedControl() = default;

    component::Guid m_classId;
    std::unique_ptr<ModuleFile> m_module;
    component::ComponentPtr m_object;
};

// "0x80040200"
std::string HResultText(component::HResult hr);

} // namespace host
