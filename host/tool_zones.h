#pragma once
// The camera's four motion zones as JSON, both ways. A zones file names each zone it changes by
// number and gives only the values it changes; the rest stay as the camera has them.
//
//   {"zones": [{"zone": 1, "enable": true, "threshold": 128, "sensitivity": 5,
//               "rect": [x1, y1, x2, y2]}]}
//
// Rectangles are in pixels of the 640 x 480 picture, right and bottom exclusive. What `zones
// get` prints is a zones file too (its "camera" and "resolution" are the camera's, not set).

#include "motion/zone_protocol.h"

#include <nlohmann/json_fwd.hpp>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

struct ZoneEdit
{
    size_t index = 0; // where the file lists it, for messages
    std::optional<bool> enable;
    std::optional<int> threshold, sensitivity;
    std::optional<std::array<int, 4>> rect;
};
using ZoneEdits = std::array<std::optional<ZoneEdit>, 4>; // zone 1 first

// False with `why` naming the field: bad JSON, a wrong type, a value out of range, a zone
// without its number or given twice, an unknown field.
bool ParseZonesFile(std::string_view text, ZoneEdits& edits, std::string& why);

// The camera's zones with the file's values in place. False with `why` when a zone the file
// touches would be enabled with an empty rectangle or one not inside the picture.
bool ApplyZoneEdits(const MotionAreaConfig& camera, const ZoneEdits& edits,
                    MotionAreaConfig& out, std::string& why);

nlohmann::ordered_json ZonesJson(const MotionAreaConfig& config);

// One line per value the camera keeps otherwise than it was sent.
std::vector<std::string> ZoneDifferences(const MotionAreaConfig& sent,
                                         const MotionAreaConfig& kept);

} // namespace host
