// The viewer module library: its identifiers and how it makes its control and property page.

#include "module/control_component.h"
#include "module/module_entry.h"
#include "viewer/vuelo_ctrl.h"

component::ModuleBinding component::ThisModule()
{
    return {
        VueloModule(),
        [] { return std::make_unique<ControlComponent<CVueloCtrl>>(VueloTypeLibrary()); },
        [] { return std::make_unique<PropertyPageComponent>(kVueloIds); },
    };
}
