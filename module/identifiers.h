#pragma once
// The fixed names and identifiers of the two control modules. Pages create the controls by
// class id, so none of these may change once published.

#include "module/guid.h"

#include <cstdint>
#include <string_view>

namespace component {

// Standard component categories: a control in both may be scripted and initialised by a page
// without asking the user.
inline constexpr Guid kCatidSafeForInitializing =
    MakeGuid("{7DD95802-9882-11CF-9FA9-00AA006C42C4}");
inline constexpr Guid kCatidSafeForScripting = MakeGuid("{7DD95801-9882-11CF-9FA9-00AA006C42C4}");
inline constexpr std::string_view kCatSafeForInitializingName =
    "Controls safely initializable from persistent data!";
inline constexpr std::string_view kCatSafeForScriptingName = "Controls safely scriptable!";

// Property exchange stamps a control's persisted state with this version (major 1, minor 0).
constexpr uint32_t MakeVersion(uint16_t major, uint16_t minor)
{
    return uint32_t{major} << 16 | minor;
}
inline constexpr uint32_t kControlVersion = MakeVersion(1, 0);

struct FileVersion
{
    uint16_t major, minor, release, build;
};

struct ModuleIdentifiers
{
    std::string_view moduleName; // "Vuelo"
    FileVersion fileVersion;
    std::string_view fileDescription;

    Guid typeLibId;
    uint16_t typeLibMajor, typeLibMinor;
    std::string_view typeLibName;
    std::string_view typeLibHelp;
    std::string_view helpFile;

    Guid controlClassId;
    std::string_view controlProgId;
    std::string_view controlClassName;
    std::string_view controlTypeName; // string 1
    std::string_view coclassName;
    std::string_view coclassHelp;
    uint32_t miscStatus;
    int toolboxBitmap; // resource number

    Guid dispatchId;
    std::string_view dispatchName;
    std::string_view dispatchHelp;
    Guid eventsId;
    std::string_view eventsName;
    std::string_view eventsHelp;

    Guid pageClassId;
    std::string_view pageProgId;
    std::string_view pageClassName;
    std::string_view pageName; // string 2
    std::string_view pageCaption;
    int pageCaptionString;

    std::string_view aboutCaption;
};

// OLEMISC_ACTIVATEWHENVISIBLE | SETCLIENTSITEFIRST | INSIDEOUT | CANTLINKINSIDE |
// RECOMPOSEONRESIZE
inline constexpr uint32_t kControlMiscStatus = 0x20191;

inline constexpr ModuleIdentifiers kVueloIds{
    .moduleName = "Vuelo",
    .fileVersion = {1, 0, 1, 9},
    .fileDescription = "Vuelo ActiveX Control Module",
    .typeLibId = MakeGuid("{75D8E3EE-C17F-4B10-ADBD-D090CCEAD11F}"),
    .typeLibMajor = 1,
    .typeLibMinor = 0,
    .typeLibName = "VUELOLib",
    .typeLibHelp = "Vuelo ActiveX Control module",
    .helpFile = "Vuelo.hlp",
    .controlClassId = MakeGuid("{ADBF3011-D7A7-44B1-8E3A-20EE92EA6E77}"),
    .controlProgId = "VUELO.VueloCtrl.1",
    .controlClassName = "CVueloCtrl",
    .controlTypeName = "Vuelo Control",
    .coclassName = "Vuelo",
    .coclassHelp = "Vuelo Control",
    .miscStatus = kControlMiscStatus,
    .toolboxBitmap = 1,
    .dispatchId = MakeGuid("{0FF57548-EBE2-449D-A03F-2016D8687035}"),
    .dispatchName = "_DVuelo",
    .dispatchHelp = "Dispatch interface for Vuelo Control",
    .eventsId = MakeGuid("{9900D310-AF40-4BB5-9C93-4401CA524203}"),
    .eventsName = "_DVueloEvents",
    .eventsHelp = "Event interface for Vuelo Control",
    .pageClassId = MakeGuid("{EEF99899-2666-460B-9C11-74CBB8C8E50F}"),
    .pageProgId = "VUELO.VueloPropPage.1",
    .pageClassName = "CVueloPropPage",
    .pageName = "Page de propriétés de Vuelo",
    .pageCaption = "Général",
    .pageCaptionString = 1001,
    .aboutCaption = "A propos de Vuelo Control",
};

inline constexpr ModuleIdentifiers kMozonIds{
    .moduleName = "Mozon",
    .fileVersion = {1, 0, 0, 9},
    .fileDescription = "Mozon ActiveX Control Module",
    .typeLibId = MakeGuid("{5A536211-B8AC-4F58-AE85-0352CCEC7E2E}"),
    .typeLibMajor = 1,
    .typeLibMinor = 0,
    .typeLibName = "MOZONLib",
    .typeLibHelp = "Mozon ActiveX Control module",
    .helpFile = "Mozon.hlp",
    .controlClassId = MakeGuid("{F0BD832A-6FBE-4FBF-931A-2286739B5B08}"),
    .controlProgId = "MOZON.MozonCtrl.1",
    .controlClassName = "CMozonCtrl",
    .controlTypeName = "Mozon Control",
    .coclassName = "Mozon",
    .coclassHelp = "Mozon Control",
    .miscStatus = kControlMiscStatus,
    .toolboxBitmap = 1,
    .dispatchId = MakeGuid("{36BB748E-C3D3-4847-BABB-F866DCA52AE9}"),
    .dispatchName = "_DMozon",
    .dispatchHelp = "Dispatch interface for Mozon Control",
    .eventsId = MakeGuid("{AC701C9C-F7B9-4BDA-8EFF-E9D094DDB276}"),
    .eventsName = "_DMozonEvents",
    .eventsHelp = "Event interface for Mozon Control",
    .pageClassId = MakeGuid("{E827499C-CF2A-48EF-90D8-FBE1A56A431F}"),
    .pageProgId = "MOZON.MozonPropPage.1",
    .pageClassName = "CMozonPropPage",
    .pageName = "Page de propriétés de Mozon",
    .pageCaption = "Général",
    .pageCaptionString = 200,
    .aboutCaption = "About Mozon Control",
};

} // namespace component
