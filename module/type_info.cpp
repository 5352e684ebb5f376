#include "module/type_info.h"

namespace component {

namespace {

bool SameNameNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x += 32;
        if (y >= 'A' && y <= 'Z')
            y += 32;
        if (x != y)
            return false;
    }
    return true;
}

TypeLibraryDesc Describe(const ModuleIdentifiers& ids, std::vector<MethodDesc> methods)
{
    return TypeLibraryDesc{
        .libId = ids.typeLibId,
        .major = ids.typeLibMajor,
        .minor = ids.typeLibMinor,
        .name = ids.typeLibName,
        .helpString = ids.typeLibHelp,
        .helpFile = ids.helpFile,
        .dispatch = {ids.dispatchId, ids.dispatchName, ids.dispatchHelp, std::move(methods)},
        .events = {ids.eventsId, ids.eventsName, ids.eventsHelp, {}},
        .coclass = {ids.controlClassId, ids.coclassName, ids.coclassHelp, ids.dispatchId,
                    ids.eventsId, true, {ids.pageClassId}},
    };
}

} // namespace

const MethodDesc* InterfaceDesc::Find(int32_t dispId) const
{
    for (const MethodDesc& m : methods)
        if (m.dispId == dispId)
            return &m;
    return nullptr;
}

const MethodDesc* InterfaceDesc::Find(std::string_view wanted) const
{
    for (const MethodDesc& m : methods)
        if (SameNameNoCase(m.name, wanted))
            return &m;
    return nullptr;
}

const TypeLibraryDesc& VueloTypeLibrary()
{
    using enum VarType;
    static const TypeLibraryDesc lib = Describe(
        kVueloIds, {
                       {1,
                        "SetSource",
                        Bool,
                        {{"sURL", Bstr},
                         {"sFrameType", Bstr},
                         {"sPanTilt", Bstr},
                         {"sFrameRate", Bstr},
                         {"nColor", I4},
                         {"nLanguage", I4}}},
                       {2, "StartPlay", Empty, {{"bRecord", I4}, {"sRecordFilename", Bstr}}},
                       {3, "StopPlay", Empty, {}},
                       {4, "SetZoomPercent", Empty, {{"nPercent", I4}}},
                       {5, "SetPlayAudio", Empty, {}},
                       {6, "StopPlayAudio", Empty, {}},
                       {7, "OpenSettingPage", Empty, {{"sParam", Bstr}}},
                       {8, "SetSize", Bool, {{"nSize", I4}}},
                       {9, "GetSize", I4, {}},
                       {kDispidAboutBox, "AboutBox", Empty, {}},
                   });
    return lib;
}

const TypeLibraryDesc& MozonTypeLibrary()
{
    using enum VarType;
    static const TypeLibraryDesc lib = Describe(
        kMozonIds,
        {
            {1, "SetSource", Bool, {{"szUrl", Bstr}, {"szFrameType", Bstr}, {"nOcxType", I2}}},
            {2, "StopPlay", Empty, {}},
            {kDispidAboutBox, "AboutBox", Empty, {}},
        });
    return lib;
}

const ModuleDefinition& VueloModule()
{
    static const ModuleDefinition def{kVueloIds, VueloTypeLibrary()};
    return def;
}

const ModuleDefinition& MozonModule()
{
    static const ModuleDefinition def{kMozonIds, MozonTypeLibrary()};
    return def;
}

} // namespace component
