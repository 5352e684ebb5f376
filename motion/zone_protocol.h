#pragma once
// The camera's motion-zone configuration and the three commands that carry it: read, save and
// release, each a POST of a few text lines to the configuration URL. No UI here: the panel shows
// the outcomes and runs the login prompt.

#include "stream/http_poster.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

struct ZoneSettings
{
    int32_t enable = 0;
    int32_t threshold = 0;
    int32_t sensitivity = 0;
    int32_t level = 0; // the last motion level shown; not part of the protocol
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

struct MotionAreaConfig
{
    int32_t resolution = 0;
    std::array<ZoneSettings, 4> zones{};
};

inline constexpr const char kZoneReadBody[] = "COMMAND: MOT_READ_AREA\r\n\r\n";
inline constexpr const char kZoneFreeBody[] = "COMMAND: MOT_OCX_FREE\r\n\r\n";

// 1 and the text up to the first CR after the first occurrence of `key`; 0 (value untouched)
// when the key or the CR is missing.
int ExtractValue(const std::string& reply, const char* key, std::string& value);

// The 29 keys of a read reply, each converted as atoi does; the level fields stay.
void ParseZoneReply(const std::string& reply, MotionAreaConfig& config);

// The save command for these zones. The resolution line is always 3; coordinates are converted
// for the last read resolution code (4: x times 0.9090909, 5: y times 1.0666667, single
// precision, truncated toward zero).
std::string ZoneSaveBody(const MotionAreaConfig& config, int lastReadResolution);

// The string table ids of the outcomes the panel shows.
enum class ZoneOutcome {
    Ok = 0,
    ConnectFailed = 1001, // "Connexion impossible !"
    Busy = 1003,          // the camera's 403 page
    Refused = 1004,       // login cancelled or refused three times
    NotConfirmed = 1,     // answered without "MOT: OK"; nothing is shown
};

class CZoneProtocol
{
public:
    // Asks the user for credentials; false when cancelled.
    using LoginPrompt = std::function<bool(std::string& user, std::string& password)>;

    // Every command waits through `waiter` (by default one that blocks), which must outlive this.
    explicit CZoneProtocol(std::string configurationUrl, const PosterTimings& timings = {},
                           platform::Waiter* waiter = nullptr);

    // Reads the zones, prompting for credentials on the camera's 401 page (at most three times).
    ZoneOutcome Read(MotionAreaConfig& config, const LoginPrompt& prompt);
    // Ok once the camera confirmed with "MOT: OK".
    ZoneOutcome Save(const std::string& body);
    // Tells the camera the control lets go; once more when it did not confirm.
    ZoneOutcome Release();

    // The credentials every command goes out with; Read replaces them with what was typed.
    void SetCredentials(std::string user, std::string password)
    {
        m_user = std::move(user);
        m_password = std::move(password);
    }
    const std::string& User() const { return m_user; }
    const std::string& Password() const { return m_password; }
    int LastReadResolution() const { return m_lastReadResolution; }
    // The last read's reply named at least one zone field: an error page parses as all zeros.
    bool LastReadHeldZones() const { return m_lastReadHeldZones; }

private:
    bool Post(const std::string& body, std::string& reply) const;

    std::string m_url;
    PosterTimings m_timings;
    platform::Waiter* m_waiter;
    std::string m_user, m_password;
    int m_lastReadResolution = 0;
    bool m_lastReadHeldZones = false;
};
