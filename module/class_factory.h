#pragma once
// Class factories and the module object: what a host asks for when it creates a control by
// class id, and what tells it whether the module may be unloaded. The objects themselves are
// opaque here (`IComponent`), so the widget layers plug their controls in without this layer
// knowing about them.

#include "module/guid.h"
#include "module/hresult.h"
#include "module/type_info.h"
#include "platform/dispatch.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class SettingsStore;
}

namespace component {

// What a host may ask of any object a factory makes. Calls come on the thread that created the
// object (apartment threading).
class IComponent
{
public:
    virtual ~IComponent() = default;

    // Late-bound scripting, as the page's script calls it: S_OK and the id, or DISP_E_UNKNOWNNAME.
    virtual HResult GetIdOfName(std::string_view name, int32_t& dispId);
    // S_OK with the method's result (empty for none), or DISP_E_MEMBERNOTFOUND.
    virtual HResult Invoke(int32_t dispId, const std::vector<DispatchArg>& args,
                           DispatchResult& result);
    // The object's window for the host to place and show: a QWidget* in this build, null when
    // the object has none. The object keeps owning it.
    virtual void* Window() { return nullptr; }
    // One JSON object of the object's counters for hosts that report them; empty when none.
    virtual std::string Statistics() { return {}; }
    // The class ids of the property pages the object lists, for a host's properties verb.
    virtual std::vector<Guid> PropertyPages() { return {}; }
};

namespace detail {
struct ModuleCounts
{
    std::atomic<long> objects{0};
    std::atomic<long> locks{0};
};
} // namespace detail

// Frees the object and takes it off its module's count. Holds the counts, not the module, so an
// object may outlive the module object that made it.
class ComponentDeleter
{
public:
    ComponentDeleter() = default;
    explicit ComponentDeleter(std::shared_ptr<detail::ModuleCounts> counts)
        : m_counts(std::move(counts))
    {
    }
    void operator()(IComponent* object) const;

private:
    std::shared_ptr<detail::ModuleCounts> m_counts;
};

using ComponentPtr = std::unique_ptr<IComponent, ComponentDeleter>;
using Creator = std::function<std::unique_ptr<IComponent>()>;

class IClassFactory
{
public:
    virtual ~IClassFactory() = default;
    virtual const Guid& ClassId() const = 0;
    // S_OK with the object; E_OUTOFMEMORY or E_FAIL with `object` empty.
    virtual HResult CreateInstance(ComponentPtr& object) = 0;
    // Keeps the module loaded without an object alive; unlocks past zero are ignored.
    virtual HResult LockServer(bool lock) = 0;
};

enum class ClassKind
{
    Control,
    PropertyPage
};

struct ModuleHooks
{
    std::function<bool()> start; // the framework's part of the module start; true when absent
    std::function<void()> end;
};

class ControlModule
{
public:
    explicit ControlModule(const ModuleDefinition& definition);
    ~ControlModule();
    ControlModule(const ControlModule&) = delete;
    ControlModule& operator=(const ControlModule&) = delete;

    const ModuleDefinition& Definition() const { return m_definition; }
    const Guid& ClassIdOf(ClassKind kind) const;

    // A class without a creator is not available.
    void SetCreator(ClassKind kind, Creator creator);
    void SetHooks(ModuleHooks hooks) { m_hooks = std::move(hooks); }

    // The module's own lookup: S_OK and the factory (owned by the module), or
    // CLASS_E_CLASSNOTAVAILABLE and null.
    HResult GetClassObject(const Guid& clsid, IClassFactory*& factory);
    // S_OK when no object lives and no lock is held, else S_FALSE.
    HResult CanUnloadNow() const;
    long ObjectCount() const { return m_counts->objects.load(); }
    long LockCount() const { return m_counts->locks.load(); }

    // Start of every load: the start hook, then the browser's connection limits in `settings`
    // (whatever the hook said). Returns the hook's result.
    bool Start(platform::SettingsStore& settings);
    void End();

    HResult RegisterServer(platform::SettingsStore& settings, std::string_view modulePath) const;
    HResult UnregisterServer(platform::SettingsStore& settings) const;

private:
    class Factory;

    const ModuleDefinition& m_definition;
    std::shared_ptr<detail::ModuleCounts> m_counts;
    std::vector<std::unique_ptr<Factory>> m_factories; // control, then property page
    ModuleHooks m_hooks;
};

} // namespace component
