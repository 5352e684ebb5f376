#include "host/tool_zones.h"

#include "motion/zone_geometry.h"

#include <nlohmann/json.hpp>

namespace host {

namespace {

using nlohmann::json;

std::string Shown(const json& value)
{
    std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace);
    if (text.size() > 40)
        text = text.substr(0, 37) + "...";
    return text;
}

bool Whole(const json& value, int low, int high, const std::string& name, int& out,
           std::string& why)
{
    if (!value.is_number_integer()) {
        why = name + ": expected a whole number, got " + Shown(value);
        return false;
    }
    // Non-negative numbers come as unsigned, which may not fit a signed one.
    const bool fits = value.is_number_unsigned()
                          ? value.get<uint64_t>() <= uint64_t(high) &&
                                int64_t(value.get<uint64_t>()) >= low
                          : value.get<int64_t>() >= low && value.get<int64_t>() <= high;
    if (!fits) {
        why = name + ": " + Shown(value) + " is out of range (" + std::to_string(low) + " to " +
              std::to_string(high) + ")";
        return false;
    }
    out = int(value.get<int64_t>());
    return true;
}

bool OnlyKnownFields(const json& object, std::initializer_list<const char*> known,
                     const std::string& where, std::string& why)
{
    for (const auto& item : object.items()) {
        bool ok = false;
        for (const char* k : known)
            ok = ok || item.key() == k;
        if (!ok) {
            why = where + "unknown field \"" + item.key() + "\"";
            return false;
        }
    }
    return true;
}

bool InsidePicture(const ZoneSettings& z)
{
    return z.x1 >= 0 && z.y1 >= 0 && z.x1 < z.x2 && z.y1 < z.y2 && z.x2 <= kZoneMaxWidth &&
           z.y2 <= kZoneMaxHeight;
}

bool ParseRect(const json& value, const std::string& name, std::array<int, 4>& rect,
               std::string& why)
{
    if (!value.is_array() || value.size() != 4) {
        why = name + ": expected [x1, y1, x2, y2], got " + Shown(value);
        return false;
    }
    static const char* kNames[4] = {"x1", "y1", "x2", "y2"};
    for (size_t k = 0; k < 4; ++k) {
        const int high = k % 2 ? kZoneMaxHeight : kZoneMaxWidth;
        if (!Whole(value[k], 0, high, name + "[" + std::to_string(k) + "]", rect[k], why))
            return false;
    }
    // An empty rectangle is what a camera reports for a zone never set; it may go back as such
    // while the zone is off.
    for (size_t k = 0; k < 2; ++k)
        if (rect[k] > rect[k + 2]) {
            why = name + ": " + kNames[k] + " (" + std::to_string(rect[k]) +
                  ") lies beyond " + kNames[k + 2] + " (" + std::to_string(rect[k + 2]) + ")";
            return false;
        }
    return true;
}

bool ParseZone(const json& z, const std::string& at, size_t index, ZoneEdits& edits,
               std::string& why)
{
    if (!z.is_object()) {
        why = at + ": expected a zone object, got " + Shown(z);
        return false;
    }
    if (!OnlyKnownFields(z, {"zone", "enable", "threshold", "sensitivity", "rect"}, at + ": ",
                         why))
        return false;
    const auto number = z.find("zone");
    if (number == z.end()) {
        why = at + ": missing \"zone\" (1 to 4)";
        return false;
    }
    int n = 0;
    if (!Whole(*number, 1, 4, at + ".zone", n, why))
        return false;
    if (edits[size_t(n - 1)]) {
        why = at + ".zone: zone " + std::to_string(n) + " is given twice";
        return false;
    }
    ZoneEdit edit;
    edit.index = index;
    if (const auto v = z.find("enable"); v != z.end()) {
        if (!v->is_boolean()) {
            why = at + ".enable: expected true or false, got " + Shown(*v);
            return false;
        }
        edit.enable = v->get<bool>();
    }
    int value = 0;
    if (const auto v = z.find("threshold"); v != z.end()) {
        if (!Whole(*v, 0, 255, at + ".threshold", value, why))
            return false;
        edit.threshold = value;
    }
    if (const auto v = z.find("sensitivity"); v != z.end()) {
        if (!Whole(*v, 0, 10, at + ".sensitivity", value, why))
            return false;
        edit.sensitivity = value;
    }
    if (const auto v = z.find("rect"); v != z.end()) {
        std::array<int, 4> rect{};
        if (!ParseRect(*v, at + ".rect", rect, why))
            return false;
        edit.rect = rect;
    }
    edits[size_t(n - 1)] = edit;
    return true;
}

} // namespace

bool ParseZonesFile(std::string_view text, ZoneEdits& edits, std::string& why)
{
    edits = {};
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::exception& e) { // a syntax error, or a number beyond any
        // Its text begins with the library's own tag, which says nothing to a user.
        why = e.what();
        if (const size_t tag = why.find("] "); why.rfind("[json.", 0) == 0 && tag != std::string::npos)
            why.erase(0, tag + 2);
        return false;
    }
    if (!doc.is_object()) {
        why = "expected an object with \"zones\", got " + Shown(doc);
        return false;
    }
    if (!OnlyKnownFields(doc, {"zones", "camera", "resolution"}, "", why))
        return false;
    const auto zones = doc.find("zones");
    if (zones == doc.end()) {
        why = "missing \"zones\"";
        return false;
    }
    if (!zones->is_array() || zones->empty()) {
        why = "zones: expected a list of one to four zones, got " + Shown(*zones);
        return false;
    }
    if (zones->size() > 4) {
        why = "zones: the camera keeps four zones, the file lists " +
              std::to_string(zones->size());
        return false;
    }
    for (size_t i = 0; i < zones->size(); ++i)
        if (!ParseZone((*zones)[i], "zones[" + std::to_string(i) + "]", i, edits, why))
            return false;
    return true;
}

bool ApplyZoneEdits(const MotionAreaConfig& camera, const ZoneEdits& edits,
                    MotionAreaConfig& out, std::string& why)
{
    out = camera;
    for (size_t n = 0; n < 4; ++n) {
        if (!edits[n])
            continue;
        const ZoneEdit& e = *edits[n];
        ZoneSettings& z = out.zones[n];
        if (e.enable)
            z.enable = *e.enable ? 1 : 0;
        if (e.threshold)
            z.threshold = *e.threshold;
        if (e.sensitivity)
            z.sensitivity = *e.sensitivity;
        if (e.rect) {
            z.x1 = (*e.rect)[0];
            z.y1 = (*e.rect)[1];
            z.x2 = (*e.rect)[2];
            z.y2 = (*e.rect)[3];
        }
        if (z.enable && !InsidePicture(z)) {
            why = "zones[" + std::to_string(e.index) + "]: zone " + std::to_string(n + 1) +
                  " would be enabled with " + (e.rect ? "the" : "the camera's") +
                  " rectangle [" + std::to_string(z.x1) + ", " + std::to_string(z.y1) + ", " +
                  std::to_string(z.x2) + ", " + std::to_string(z.y2) +
                  "], which is empty or not inside the picture" +
                  (e.rect ? "" : "; give \"rect\"");
            return false;
        }
    }
    return true;
}

nlohmann::ordered_json ZonesJson(const MotionAreaConfig& config)
{
    nlohmann::ordered_json zones = nlohmann::ordered_json::array();
    for (size_t n = 0; n < 4; ++n) {
        const ZoneSettings& z = config.zones[n];
        nlohmann::ordered_json zone;
        zone["zone"] = n + 1;
        zone["enable"] = z.enable != 0;
        zone["threshold"] = z.threshold;
        zone["sensitivity"] = z.sensitivity;
        zone["rect"] = {z.x1, z.y1, z.x2, z.y2};
        zones.push_back(std::move(zone));
    }
    nlohmann::ordered_json out;
    out["resolution"] = config.resolution;
    out["zones"] = std::move(zones);
    return out;
}

std::vector<std::string> ZoneDifferences(const MotionAreaConfig& sent,
                                         const MotionAreaConfig& kept)
{
    std::vector<std::string> lines;
    for (size_t n = 0; n < 4; ++n) {
        const ZoneSettings& a = sent.zones[n];
        const ZoneSettings& b = kept.zones[n];
        const std::string zone = "zone " + std::to_string(n + 1) + " ";
        if ((a.enable != 0) != (b.enable != 0))
            lines.push_back(zone + "enable: sent " + (a.enable ? "true" : "false") +
                            ", the camera keeps " + (b.enable ? "true" : "false"));
        const std::pair<const char*, int32_t ZoneSettings::*> fields[] = {
            {"threshold", &ZoneSettings::threshold},
            {"sensitivity", &ZoneSettings::sensitivity},
            {"x1", &ZoneSettings::x1},
            {"y1", &ZoneSettings::y1},
            {"x2", &ZoneSettings::x2},
            {"y2", &ZoneSettings::y2}};
        for (const auto& [name, field] : fields)
            if (a.*field != b.*field)
                lines.push_back(zone + name + ": sent " + std::to_string(a.*field) +
                                ", the camera keeps " + std::to_string(b.*field));
    }
    return lines;
}

} // namespace host
