#pragma once
// The camera's motion-zone configuration and its text form: lines of "KEY: value" ended by CR LF,
// as the zone commands carry them.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace camsim {

struct Zone
{
    int enable = 0;
    int threshold = 128;
    int sensitivity = 5;
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

struct ZoneConfig
{
    int resolution = 3;
    std::array<Zone, 4> zones{};

    // Four disabled zones laid out across the 640 x 480 picture.
    static ZoneConfig Defaults();
    bool operator==(const ZoneConfig&) const = default;
};

bool operator==(const Zone& a, const Zone& b);

enum class ZoneCommand { Read, Save, Free, Unknown };

// The command named on the body's "COMMAND: " line, if the body has one.
ZoneCommand ParseZoneCommand(std::string_view body);

// The value after `key` up to the next CR, as an integer; nothing if the key or the CR is missing
// or the value is not a whole decimal number that fits an int.
std::optional<int> ZoneValue(std::string_view text, std::string_view key);

// A save body gives a whole configuration only when all 28 zone keys are there and numeric; the
// resolution line is optional and keeps `previous` when absent.
std::optional<ZoneConfig> ParseZoneSave(std::string_view body, const ZoneConfig& previous);

// The read reply: the 29 keys, resolution first.
std::string FormatZoneReply(const ZoneConfig& config);

// Zones kept in a file survive restarts; a write never leaves a half-written file.
std::optional<ZoneConfig> LoadZoneFile(const std::string& path);
bool SaveZoneFile(const std::string& path, const ZoneConfig& config);

} // namespace camsim
