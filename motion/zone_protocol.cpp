#include "motion/zone_protocol.h"

#include <cstdlib>

namespace {

constexpr const char* kFieldKeys[7] = {"EN: ", "THD: ", "SENS: ", "X1: ", "Y1: ", "X2: ", "Y2: "};

int32_t* Field(ZoneSettings& z, int f)
{
    int32_t* fields[7] = {&z.enable, &z.threshold, &z.sensitivity, &z.x1, &z.y1, &z.x2, &z.y2};
    return fields[f];
}

std::string Key(int zone, int field)
{
    return "AREA" + std::to_string(zone) + kFieldKeys[field];
}

bool Contains(const std::string& text, const char* what)
{
    return text.find(what) != std::string::npos;
}

} // namespace

int ExtractValue(const std::string& reply, const char* key, std::string& value)
{
    size_t at = reply.find(key);
    if (at == std::string::npos)
        return 0;
    at += std::char_traits<char>::length(key);
    size_t cr = reply.find('\r', at);
    if (cr == std::string::npos)
        return 0;
    value = reply.substr(at, cr - at);
    return 1;
}

void ParseZoneReply(const std::string& reply, MotionAreaConfig& config)
{
    config.resolution = 0;
    for (ZoneSettings& z : config.zones)
        for (int f = 0; f < 7; ++f)
            *Field(z, f) = 0;
    std::string value; // one buffer for all keys, as the camera's control reads them
    ExtractValue(reply, "RES: ", value);
    config.resolution = std::atoi(value.c_str());
    for (int n = 0; n < 4; ++n)
        for (int f = 0; f < 7; ++f) {
            ExtractValue(reply, Key(n, f).c_str(), value);
            *Field(config.zones[size_t(n)], f) = std::atoi(value.c_str());
        }
}

std::string ZoneSaveBody(const MotionAreaConfig& config, int lastReadResolution)
{
    std::string body = "COMMAND: MOT_SAVE_AREA\r\nRES: 3\r\n";
    for (int n = 0; n < 4; ++n) {
        ZoneSettings z = config.zones[size_t(n)];
        if (lastReadResolution == 4) {
            z.x1 = int32_t(float(z.x1) * 0.9090909f);
            z.x2 = int32_t(float(z.x2) * 0.9090909f);
        } else if (lastReadResolution == 5) {
            z.y1 = int32_t(float(z.y1) * 1.0666667f);
            z.y2 = int32_t(float(z.y2) * 1.0666667f);
        }
        for (int f = 0; f < 7; ++f)
            body += Key(n, f) + std::to_string(*Field(z, f)) + "\r\n";
    }
    return body + "\r\n";
}

CZoneProtocol::CZoneProtocol(std::string configurationUrl, const PosterTimings& timings,
                             platform::Waiter* waiter)
    : m_url(std::move(configurationUrl)), m_timings(timings), m_waiter(waiter)
{
}

bool CZoneProtocol::Post(const std::string& body, std::string& reply) const
{
    reply.clear();
    // A fresh poster per command, with the zone module's reply buffers.
    return CHttpPoster(kZonePosterProfile, m_timings, m_waiter)
        .Request(reply, m_url, true, m_user, m_password, body.data(), int(body.size()));
}

ZoneOutcome CZoneProtocol::Read(MotionAreaConfig& config, const LoginPrompt& prompt)
{
    std::string reply;
    if (!Post(kZoneReadBody, reply))
        return ZoneOutcome::ConnectFailed;
    for (int attempt = 1; Contains(reply, "<HTML><HEAD><TITLE>401"); ++attempt) {
        if (attempt == 4)
            return ZoneOutcome::Refused;
        std::string user, password;
        if (!prompt || !prompt(user, password))
            return ZoneOutcome::Refused;
        m_user = user;
        m_password = password;
        if (!Post(kZoneReadBody, reply))
            return ZoneOutcome::ConnectFailed;
    }
    if (Contains(reply, "<HTML><HEAD><TITLE>403"))
        return ZoneOutcome::Busy;
    ParseZoneReply(reply, config);
    m_lastReadResolution = config.resolution;
    m_lastReadHeldZones = Contains(reply, "AREA");
    return ZoneOutcome::Ok;
}

ZoneOutcome CZoneProtocol::Save(const std::string& body)
{
    std::string reply;
    if (!Post(body, reply))
        return ZoneOutcome::ConnectFailed;
    return Contains(reply, "MOT: OK") ? ZoneOutcome::Ok : ZoneOutcome::NotConfirmed;
}

ZoneOutcome CZoneProtocol::Release()
{
    std::string reply;
    if (!Post(kZoneFreeBody, reply))
        return ZoneOutcome::ConnectFailed;
    if (Contains(reply, "MOT: OK"))
        return ZoneOutcome::Ok;
    // Once more; the second reply is not looked at.
    if (!Post(kZoneFreeBody, reply))
        return ZoneOutcome::ConnectFailed;
    return ZoneOutcome::Ok;
}
