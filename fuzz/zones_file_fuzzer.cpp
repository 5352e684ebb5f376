// A zones file is whatever the user (or a script) wrote.
#include "host/tool_zones.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    host::ZoneEdits edits;
    std::string why;
    if (!host::ParseZonesFile(text, edits, why))
        return why.empty() ? (std::abort(), 0) : 0;
    MotionAreaConfig camera;
    MotionAreaConfig applied;
    if (!host::ApplyZoneEdits(camera, edits, applied, why))
        return 0;
    // What get prints of the result, set takes back to the same zones.
    host::ZoneEdits again;
    MotionAreaConfig reapplied;
    if (!host::ParseZonesFile(host::ZonesJson(applied).dump(), again, why) ||
        !host::ApplyZoneEdits(camera, again, reapplied, why))
        std::abort();
    for (size_t n = 0; n < 4; ++n) {
        const ZoneSettings &a = applied.zones[n], &b = reapplied.zones[n];
        if (a.enable != b.enable || a.threshold != b.threshold || a.x1 != b.x1 || a.y2 != b.y2)
            std::abort();
    }
    return 0;
}
