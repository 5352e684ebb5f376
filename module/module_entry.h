#pragma once
// What makes a module library one module: each defines ThisModule() once, and the shared entry
// points (exports.cpp) serve it.

#include "module/class_factory.h"

namespace component {

struct ModuleBinding
{
    const ModuleDefinition& definition;
    Creator control;
    Creator propertyPage;
};

ModuleBinding ThisModule();

} // namespace component
