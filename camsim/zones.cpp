#include "camsim/zones.h"

#include <charconv>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace camsim {

namespace {

constexpr const char* kFieldKeys[7] = {"EN: ", "THD: ", "SENS: ", "X1: ", "Y1: ", "X2: ", "Y2: "};

// Field order of the protocol: enable, threshold, sensitivity, x1, y1, x2, y2.
int* Field(Zone& z, int i)
{
    int* fields[7] = {&z.enable, &z.threshold, &z.sensitivity, &z.x1, &z.y1, &z.x2, &z.y2};
    return fields[i];
}

std::string Key(int zone, int field)
{
    return "AREA" + std::to_string(zone) + kFieldKeys[field];
}

} // namespace

bool operator==(const Zone& a, const Zone& b)
{
    return a.enable == b.enable && a.threshold == b.threshold && a.sensitivity == b.sensitivity &&
           a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
}

ZoneConfig ZoneConfig::Defaults()
{
    ZoneConfig c;
    for (int i = 0; i < 4; ++i) {
        Zone& z = c.zones[size_t(i)];
        z.x1 = 40 + (i % 2) * 320;
        z.y1 = 40 + (i / 2) * 240;
        z.x2 = z.x1 + 240;
        z.y2 = z.y1 + 160;
    }
    return c;
}

ZoneCommand ParseZoneCommand(std::string_view body)
{
    constexpr std::string_view kCommand = "COMMAND: ";
    size_t at = body.find(kCommand);
    if (at == std::string_view::npos)
        return ZoneCommand::Unknown;
    std::string_view rest = body.substr(at + kCommand.size());
    rest = rest.substr(0, rest.find('\r'));
    if (rest == "MOT_READ_AREA")
        return ZoneCommand::Read;
    if (rest == "MOT_SAVE_AREA")
        return ZoneCommand::Save;
    if (rest == "MOT_OCX_FREE")
        return ZoneCommand::Free;
    return ZoneCommand::Unknown;
}

std::optional<int> ZoneValue(std::string_view text, std::string_view key)
{
    size_t at = text.find(key);
    if (at == std::string_view::npos)
        return std::nullopt;
    std::string_view value = text.substr(at + key.size());
    size_t cr = value.find('\r');
    if (cr == std::string_view::npos)
        return std::nullopt;
    value = value.substr(0, cr);
    int out = 0;
    auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), out);
    if (ec != std::errc() || end != value.data() + value.size() || value.empty())
        return std::nullopt;
    return out;
}

std::optional<ZoneConfig> ParseZoneSave(std::string_view body, const ZoneConfig& previous)
{
    ZoneConfig c = previous;
    if (auto res = ZoneValue(body, "RES: "))
        c.resolution = *res;
    for (int n = 0; n < 4; ++n) {
        for (int f = 0; f < 7; ++f) {
            auto v = ZoneValue(body, Key(n, f));
            if (!v)
                return std::nullopt;
            *Field(c.zones[size_t(n)], f) = *v;
        }
    }
    return c;
}

std::string FormatZoneReply(const ZoneConfig& config)
{
    std::string out = "RES: " + std::to_string(config.resolution) + "\r\n";
    for (int n = 0; n < 4; ++n) {
        Zone z = config.zones[size_t(n)];
        for (int f = 0; f < 7; ++f)
            out += Key(n, f) + std::to_string(*Field(z, f)) + "\r\n";
    }
    return out;
}

std::optional<ZoneConfig> LoadZoneFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    return ParseZoneSave(text.str(), ZoneConfig::Defaults());
}

bool SaveZoneFile(const std::string& path, const ZoneConfig& config)
{
    const std::string text = FormatZoneReply(config);
    const std::string tmp = path + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, text.data(), text.size()) == ssize_t(text.size()) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

} // namespace camsim
