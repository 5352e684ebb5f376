#pragma once
// A control or property page widget as a component: scripting goes through the type library's
// names to the widget's own dispatch; the host gets the widget as the object's window.

#include "module/about_box.h"
#include "module/class_factory.h"
#include "module/type_info.h"

#include <QPointer>

namespace component {

template <class Control> class ControlComponent final : public IComponent
{
public:
    explicit ControlComponent(const TypeLibraryDesc& lib)
        : m_dispatch(lib.dispatch), m_pages(lib.coclass.propertyPages), m_control(new Control)
    {
    }
    // The host may have given the window a parent that deleted it already.
    ~ControlComponent() override { delete m_control.data(); }

    HResult GetIdOfName(std::string_view name, int32_t& dispId) override
    {
        const MethodDesc* method = m_dispatch.Find(name);
        dispId = method ? method->dispId : 0;
        return method ? S_OK : DISP_E_UNKNOWNNAME;
    }

    HResult Invoke(int32_t dispId, const std::vector<DispatchArg>& args,
                   DispatchResult& result) override
    {
        result = std::monostate{};
        if (!m_control || !m_dispatch.Find(dispId))
            return DISP_E_MEMBERNOTFOUND;
        std::optional<DispatchResult> r = m_control->Invoke(int(dispId), args);
        if (!r)
            return DISP_E_MEMBERNOTFOUND;
        result = *r;
        return S_OK;
    }

    void* Window() override { return m_control.data(); }
    std::string Statistics() override { return m_control ? m_control->Statistics() : ""; }
    std::vector<Guid> PropertyPages() override { return m_pages; }

private:
    const InterfaceDesc& m_dispatch;
    const std::vector<Guid>& m_pages;
    QPointer<Control> m_control;
};

class PropertyPageComponent final : public IComponent
{
public:
    explicit PropertyPageComponent(const ModuleIdentifiers& ids) : m_page(new CPropertyPage(ids)) {}
    ~PropertyPageComponent() override { delete m_page.data(); }
    void* Window() override { return m_page.data(); }

private:
    QPointer<CPropertyPage> m_page;
};

} // namespace component
