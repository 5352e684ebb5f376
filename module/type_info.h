#pragma once
// What the type library of a module says: its scripting interface (method names, dispatch ids,
// argument and result types), its event interface and the control class that joins them.
// Hosts look methods up here by name or id before they call into a control.

#include "module/guid.h"
#include "module/identifiers.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace component {

// The variant type numbers of the automation standard, so descriptions read like a type library.
enum class VarType : uint16_t
{
    Empty = 0, // no result
    I2 = 2,    // 16-bit integer
    I4 = 3,    // 32-bit integer ("long")
    Bstr = 8,  // string
    Bool = 11,
};

inline constexpr int32_t kDispidAboutBox = -552;

struct ParamDesc
{
    std::string_view name;
    VarType type;
};

struct MethodDesc
{
    int32_t dispId;
    std::string_view name;
    VarType result;
    std::vector<ParamDesc> params;
};

struct InterfaceDesc
{
    Guid iid;
    std::string_view name;
    std::string_view helpString;
    std::vector<MethodDesc> methods; // in dispatch order

    const MethodDesc* Find(int32_t dispId) const;
    // Case-insensitive, as scripting hosts resolve names.
    const MethodDesc* Find(std::string_view name) const;
};

struct CoclassDesc
{
    Guid clsid;
    std::string_view name;
    std::string_view helpString;
    Guid defaultInterface;
    Guid defaultSource; // the event interface
    bool control;
    std::vector<Guid> propertyPages; // the pages the control lists for its properties
};

struct TypeLibraryDesc
{
    Guid libId;
    uint16_t major, minor;
    std::string_view name;
    std::string_view helpString;
    std::string_view helpFile;
    InterfaceDesc dispatch;
    InterfaceDesc events;
    CoclassDesc coclass;
};

const TypeLibraryDesc& VueloTypeLibrary();
const TypeLibraryDesc& MozonTypeLibrary();

// A module as registration and the class factories see it.
struct ModuleDefinition
{
    const ModuleIdentifiers& ids;
    const TypeLibraryDesc& typeLib;
};

const ModuleDefinition& VueloModule();
const ModuleDefinition& MozonModule();

} // namespace component
