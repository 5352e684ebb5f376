#pragma once
// Self-registration of a module in the settings store (the registry's stand-in), the browser's
// connection limit that every load raises, and the lookups a host makes before it loads a
// control: ProgID to class id, class id to module file, and the class's safety categories.
//
// Registry layout, all under the classes root:
//   TypeLib\{lib}\1.0            library help, with 0\win32 (module file), FLAGS, HELPDIR
//   Interface\{iid}              dispatch and event interfaces, pointing back at the library
//   CLSID\{control}              type name; ProgID, InprocServer32 (+ ThreadingModel), Control,
//                                Insertable, ToolboxBitmap32, MiscStatus\1, TypeLib, Version,
//                                Implemented Categories\{catid}
//   <ProgID>                     type name; CLSID, Insertable
//   CLSID\{page}                 page name; InprocServer32 (+ ThreadingModel)
//   Component Categories\{catid} "409" = category description

#include "module/guid.h"
#include "module/hresult.h"
#include "module/type_info.h"
#include "platform/http.h"

#include <optional>
#include <string>
#include <string_view>

namespace platform {
class SettingsStore;
}

namespace component {

// The HTTP layer reads its per-server limit from the same place.
using platform::kInternetSettingsKey;
inline constexpr uint32_t kMaxConnections = 25;
inline constexpr std::string_view kThreadingModel = "Apartment";

// SELFREG_E_TYPELIB when the library entries cannot be written (or the description lacks a
// name), SELFREG_E_CLASS for the classes, E_FAIL for the categories; S_OK otherwise. Writing
// again over an earlier registration leaves the same entries.
HResult RegisterServer(platform::SettingsStore& settings, const ModuleDefinition& module,
                       std::string_view modulePath);
// Removes the library, its interfaces, both classes and the ProgID; the categories stay.
// SELFREG_E_TYPELIB also when the library was not registered, as unregistering a type library
// reports it.
HResult UnregisterServer(platform::SettingsStore& settings, const ModuleDefinition& module);

// Current user's "MaxConnectionsPer1_0Server" and "MaxConnectionsPerServer" to 25; nothing
// more once the first write fails. False on a failure.
bool SetConnectionLimits(platform::SettingsStore& settings);

std::optional<Guid> ClassIdOfProgId(const platform::SettingsStore& settings,
                                    std::string_view progId);
std::optional<std::string> InprocServerOf(const platform::SettingsStore& settings,
                                          const Guid& clsid);
bool ImplementsCategory(const platform::SettingsStore& settings, const Guid& clsid,
                        const Guid& category);

struct RegisteredControl
{
    Guid classId;
    std::string serverPath;
    bool safeForScripting;
    bool safeForInitializing;
};
// ProgID to class id to module file, with the categories; nullopt unless all of the chain is
// registered.
std::optional<RegisteredControl> FindControl(const platform::SettingsStore& settings,
                                             std::string_view progId);

} // namespace component
