#include "module/class_factory.h"

#include "module/registration.h"

#include <new>

namespace component {

HResult IComponent::GetIdOfName(std::string_view, int32_t& dispId)
{
    dispId = 0;
    return DISP_E_UNKNOWNNAME;
}

HResult IComponent::Invoke(int32_t, const std::vector<DispatchArg>&, DispatchResult& result)
{
    result = std::monostate{};
    return DISP_E_MEMBERNOTFOUND;
}

void ComponentDeleter::operator()(IComponent* object) const
{
    delete object;
    if (m_counts)
        --m_counts->objects;
}

class ControlModule::Factory final : public IClassFactory
{
public:
    Factory(const Guid& clsid, std::shared_ptr<detail::ModuleCounts> counts)
        : m_clsid(clsid), m_counts(std::move(counts))
    {
    }

    const Guid& ClassId() const override { return m_clsid; }
    bool Available() const { return static_cast<bool>(m_creator); }
    void SetCreator(Creator c) { m_creator = std::move(c); }

    HResult CreateInstance(ComponentPtr& object) override
    {
        object.reset();
        if (!m_creator)
            return CLASS_E_CLASSNOTAVAILABLE;
        std::unique_ptr<IComponent> made;
        try {
            made = m_creator();
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
        if (!made)
            return E_FAIL;
        // Counted before the caller sees it, so an unload check never races a fresh object.
        ++m_counts->objects;
        object = ComponentPtr(made.release(), ComponentDeleter(m_counts));
        return S_OK;
    }

    HResult LockServer(bool lock) override
    {
        if (lock) {
            ++m_counts->locks;
            return S_OK;
        }
        long held = m_counts->locks.load();
        while (held > 0 && !m_counts->locks.compare_exchange_weak(held, held - 1)) {
        }
        return S_OK;
    }

private:
    Guid m_clsid;
    std::shared_ptr<detail::ModuleCounts> m_counts;
    Creator m_creator;
};

ControlModule::ControlModule(const ModuleDefinition& definition)
    : m_definition(definition), m_counts(std::make_shared<detail::ModuleCounts>())
{
    m_factories.push_back(std::make_unique<Factory>(definition.ids.controlClassId, m_counts));
    m_factories.push_back(std::make_unique<Factory>(definition.ids.pageClassId, m_counts));
}

ControlModule::~ControlModule() = default;

const Guid& ControlModule::ClassIdOf(ClassKind kind) const
{
    return kind == ClassKind::Control ? m_definition.ids.controlClassId
                                      : m_definition.ids.pageClassId;
}

void ControlModule::SetCreator(ClassKind kind, Creator creator)
{
    m_factories[kind == ClassKind::Control ? 0 : 1]->SetCreator(std::move(creator));
}

HResult ControlModule::GetClassObject(const Guid& clsid, IClassFactory*& factory)
{
    factory = nullptr;
    for (const auto& f : m_factories) {
        if (f->ClassId() == clsid && f->Available()) {
            factory = f.get();
            return S_OK;
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HResult ControlModule::CanUnloadNow() const
{
    return m_counts->objects.load() == 0 && m_counts->locks.load() == 0 ? S_OK : S_FALSE;
}

bool ControlModule::Start(platform::SettingsStore& settings)
{
    bool started = m_hooks.start ? m_hooks.start() : true;
    SetConnectionLimits(settings);
    return started;
}

void ControlModule::End()
{
    if (m_hooks.end)
        m_hooks.end();
}

HResult ControlModule::RegisterServer(platform::SettingsStore& settings,
                                      std::string_view modulePath) const
{
    return component::RegisterServer(settings, m_definition, modulePath);
}

HResult ControlModule::UnregisterServer(platform::SettingsStore& settings) const
{
    return component::UnregisterServer(settings, m_definition);
}

} // namespace component
