#pragma once
// The simulated camera: a real HTTP/1.1 server on loopback that answers the camera's endpoints,
// asks for credentials when configured, limits the number of stream users and injects faults.
// Tests run it in-process on an ephemeral port; the camsim program wraps it.

#include "camsim/zones.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace camsim {

class SharedStreams;

// What goes wrong with the replies of one endpoint. Several may be combined: the delay comes
// first, then the hang, then the status or the reply cut after closeAfterBytes body bytes.
struct Fault
{
    int delayMs = 0;
    bool hang = false;          // until the fault is cleared or the camera stops
    long closeAfterBytes = -1;  // -1: the whole reply
    int status = 0;             // 0: the endpoint's own status
    // Stream defect, once after afterPictures good pictures; empty for none. Motion-JPEG: close,
    // stall, bad-tag, bad-type, bad-version, bad-offset, big-frame; ASF: close, stall, audio-key,
    // outside-object, fill-overflow, short-packet, big-header, big-packet; both: fuzz, damage
    // everywhere from the start (stream_fuzz.h).
    std::string stream;
    int afterPictures = 2;
    int audioDelayMs = 0; // the streams' sound sent this much later than its pictures
    // The fuzz defect's: connection k of the endpoint (counted from SetFault) is damaged by
    // seed + k, so a whole run or one connection can be replayed. SetFault picks one if unset.
    std::optional<uint64_t> seed{};
};

// "endpoint:kind[=value]" as on the command line: delay=MS, hang, close=BYTES, status=CODE,
// stream=DEFECT (stream=fuzz:SEED with a seed), after=PICTURES, audio-delay=MS. Sets only the field it names,
// so options can be merged.
bool ParseFaultOption(const std::string& option, std::string& endpoint, Fault& fault);

enum class AuthScheme { Any, Basic, Digest };

// Stream clients the server holds at once whatever the user limit, a wall of cameras' worth.
inline constexpr int kMinStreamClients = 64;

struct Config
{
    std::string user;     // empty: no credentials asked
    std::string password;
    AuthScheme auth = AuthScheme::Any;
    int maxUsers = 10;    // concurrent stream users before the busy page
    std::string resolutions = "640*480,320*240,160*120";
    std::string videoType = "mpeg4";
    std::string voiceOut = "on";
    std::string ptctrl = "on";
    std::string ioctrl = "off";
    bool zoneRead403 = false;
    int zoneResolution = 3; // the resolution code zone reads report, whatever a save sends
    std::string zonesFile; // empty: zones live as long as the process
    std::string mjpegSize = "320x240"; // Motion-JPEG picture size without a "size=" query
    std::string asfSize = "320x240";   // the same for the ASF stream
    int gop = 30;                      // ASF stream: pictures from one key frame to the next
    int fps = 30;                      // both streams, when the request asks for no rate
    int audioCodeSize = 4;             // both streams' audio: G.726 bits per sample, 0 = none
    // Both set: everything is served over TLS with this certificate (chain) and key, PEM files.
    std::string tlsCert, tlsKey;
    // The ASF header's creation date is the wall time of the stream's time 0, as a camera whose
    // clock is set gives it; off, it is left unset, so the stream is the same as its recording.
    bool streamDate = false;
};

struct RequestRecord
{
    std::string method;
    std::string endpoint; // path without the leading slash
    std::string query;    // raw, without '?'
    std::string body;
    std::string userAgent;
    std::string contentType;
    std::string authUser;     // as the client sent it, when it sent any
    std::string authPassword; // Basic only: Digest does not carry it
    bool authorized = false;
};

struct PanTiltCommand
{
    int h = 0, v = 0, speed = 0;
};

inline constexpr const char* kPage401 =
    "<HTML><HEAD><TITLE>401 Unauthorized</TITLE></HEAD><BODY><H1>401 Unauthorized</H1>"
    "Authorization required.</BODY></HTML>\r\n";
inline constexpr const char* kPage403 =
    "<HTML><HEAD><TITLE>403 Forbidden</TITLE></HEAD><BODY><H1>403 Forbidden</H1>"
    "The device is busy.</BODY></HTML>\r\n";
inline constexpr const char* kPage503 =
    "<HTML><HEAD><TITLE>503 Service Unavailable</TITLE></HEAD><BODY><H1>503 Service "
    "Unavailable</H1>Too many users.</BODY></HTML>\r\n";

class Camera
{
public:
    explicit Camera(Config config = {});
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // Binds and starts serving; port 0 picks a free one. False if the address cannot be bound,
    // or the TLS certificate and key did not load.
    bool Start(const std::string& host = "127.0.0.1", int port = 0);
    bool Secure() const { return !m_config.tlsCert.empty() || !m_config.tlsKey.empty(); }
    // False when TLS was asked for and the certificate and key do not make a server.
    bool TlsReady() const;
    // Releases hanging replies and streams, then stops; safe to call twice.
    void Stop();

    int Port() const { return m_port; }
    std::string BaseUrl() const; // "http://HOST:PORT/", https when Secure

    void SetFault(const std::string& endpoint, const Fault& fault);
    void ClearFaults();

    std::vector<RequestRecord> Requests() const;
    std::vector<PanTiltCommand> PanTiltCommands() const;
    // Where the pan/tilt head points: the sum of the commanded offsets (right, up).
    std::pair<int, int> Aim() const { return {m_aimX.load(), m_aimY.load()}; }
    // The saved zones; their resolution is always the configured code.
    ZoneConfig Zones() const;
    void SetZones(const ZoneConfig& zones);
    int ActiveStreams() const { return m_activeStreams.load(); }
    // Requests that have reached a handler's thread, counted before any fault holds them.
    int RequestsArrived() const { return m_arrived.load(); }

    // The motion levels the ASF stream carries after each picture, zone 1 first: measured in
    // the saved zones from the stream's own pictures, unless fixed by SetZoneLevels until
    // MeasureZoneLevels. ZoneLevels gives the fixed ones, else the latest a stream measured.
    void SetZoneLevels(std::array<uint8_t, 4> levels);
    void MeasureZoneLevels();
    std::optional<std::array<uint8_t, 4>> FixedZoneLevels() const;
    void ReportZoneLevels(std::array<uint8_t, 4> measured); // by the streams
    std::array<uint8_t, 4> ZoneLevels() const;

    // Stream endpoints hold a slot while they send; none is left at the user limit.
    class StreamSlot
    {
    public:
        explicit StreamSlot(Camera* camera = nullptr) : m_camera(camera) {}
        StreamSlot(StreamSlot&& other) noexcept : m_camera(std::exchange(other.m_camera, nullptr)) {}
        StreamSlot& operator=(StreamSlot&&) = delete;
        ~StreamSlot();
        explicit operator bool() const { return m_camera != nullptr; }

    private:
        Camera* m_camera;
    };
    StreamSlot AcquireStreamSlot();

    // The live streams' shared encoders, one per configuration (shared_stream.h).
    SharedStreams& Streams() { return *m_streams; }
    int RunningEncoders() const;
    uint64_t EncodersStarted() const;

    // Waits up to `ms` for Stop; true once the camera is stopping. Streams pace themselves by it.
    bool WaitStopping(int ms);
    bool Stopping() const { return m_stopping.load(); }

    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
    // Adds an endpoint (path without leading slash) behind the same credentials and faults.
    // Only before Start.
    void AddEndpoint(const std::string& method, const std::string& endpoint, Handler handler);

    const Config& GetConfig() const { return m_config; }
    // The fault that applies to an endpoint now ("*" when it has none of its own).
    Fault FaultFor(const std::string& endpoint) const;
    // The seed of the endpoint's next fuzzed connection.
    uint64_t NextFuzzSeed(const std::string& endpoint);

private:
    void Dispatch(const httplib::Request& req, httplib::Response& res);
    bool Authorized(const httplib::Request& req, RequestRecord& record);
    void Challenge(httplib::Response& res);
    void Record(RequestRecord record);

    void ImageQuery(const httplib::Request& req, httplib::Response& res);
    void UtilQuery(const httplib::Request& req, httplib::Response& res);
    void PanTilt(const httplib::Request& req, httplib::Response& res);
    void ZoneCommandEndpoint(const httplib::Request& req, httplib::Response& res);

    Config m_config;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_listener;
    std::atomic<bool> m_listenerDone{false};
    int m_port = 0;
    std::string m_host;

    std::map<std::string, std::map<std::string, Handler>> m_endpoints; // method → endpoint

    mutable std::mutex m_mutex;
    std::condition_variable m_changed; // faults cleared or stopping
    std::atomic<bool> m_stopping{false};
    std::map<std::string, Fault> m_faults;
    uint64_t m_faultGeneration = 0;
    std::map<std::string, uint64_t> m_fuzzConnections; // per endpoint, since the faults changed
    std::vector<RequestRecord> m_requests;
    std::vector<PanTiltCommand> m_panTilt;
    ZoneConfig m_zones;
    std::set<std::string> m_nonces;
    uint64_t m_nonceCounter = 0;
    std::atomic<int> m_activeStreams{0};
    std::atomic<int> m_arrived{0};
    std::atomic<int> m_aimX{0}, m_aimY{0};
    // Byte 0 = zone 1; bit 32 of the fixed ones says they are set. Shared by the stream threads.
    std::atomic<uint64_t> m_fixedLevels{0};
    std::atomic<uint32_t> m_measuredLevels{0};
    std::unique_ptr<SharedStreams> m_streams; // its clients are gone once Stop has returned
};

} // namespace camsim
