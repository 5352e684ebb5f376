// The motion-zone module library: its identifiers and how it makes its control and property page.

#include "module/control_component.h"
#include "module/module_entry.h"
#include "motion/mozon_ctrl.h"

component::ModuleBinding component::ThisModule()
{
    return {
        MozonModule(),
        [] { return std::make_unique<ControlComponent<CMozonCtrl>>(MozonTypeLibrary()); },
        [] { return std::make_unique<PropertyPageComponent>(kMozonIds); },
    };
}
