#include "camsim/camera.h"

#include "camsim/asf_stream.h"
#include "camsim/auth.h"
#include "camsim/mjpeg_stream.h"
#include "camsim/shared_stream.h"
#include "camsim/task_pool.h"

#include <httplib.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <random>

namespace camsim {

namespace {

constexpr const char* kRealm = "camsim";
constexpr const char* kTextType = "text/plain";
constexpr const char* kHtmlType = "text/html";

const char* Reason(int status)
{
    switch (status) {
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return status < 400 ? "OK" : "Error";
    }
}

std::string StatusPage(int status)
{
    const char* reason = Reason(status);
    char page[256];
    std::snprintf(page, sizeof page,
                  "<HTML><HEAD><TITLE>%d %s</TITLE></HEAD><BODY><H1>%d %s</H1></BODY></HTML>\r\n",
                  status, reason, status, reason);
    return page;
}

bool ParseInt(std::string_view text, int& out)
{
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

// Cuts whatever the response sends after `limit` body bytes and drops the connection there.
void CutAfter(httplib::Response& res, size_t limit)
{
    if (!res.content_provider_) {
        if (res.body.size() <= limit)
            return;
        auto body = std::make_shared<std::string>(std::move(res.body));
        res.body.clear();
        std::string type = res.get_header_value("Content-Type");
        res.set_content_provider(body->size(), type.empty() ? kTextType : type.c_str(),
                                 [body, limit](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset < limit)
                                         sink.write(body->data() + offset, limit - offset);
                                     return false;
                                 });
        return;
    }
    auto inner = std::move(res.content_provider_);
    auto left = std::make_shared<size_t>(limit);
    res.content_provider_ = [inner, left](size_t offset, size_t length, httplib::DataSink& sink) {
        httplib::DataSink proxy;
        proxy.write = [&sink, left](const char* data, size_t n) {
            size_t take = std::min(n, *left);
            bool ok = take == 0 || sink.write(data, take);
            *left -= take;
            return ok && take == n;
        };
        proxy.is_writable = [&sink, left] { return *left > 0 && sink.is_writable(); };
        proxy.done = [&sink, left] {
            if (*left > 0)
                sink.done();
        };
        return inner(offset, length, proxy) && *left > 0;
    };
}

constexpr uint64_t kFixedLevels = uint64_t(1) << 32;

uint32_t PackLevels(std::array<uint8_t, 4> levels)
{
    uint32_t packed = 0;
    for (size_t i = 0; i < levels.size(); ++i)
        packed |= uint32_t(levels[i]) << (8 * i);
    return packed;
}

std::array<uint8_t, 4> UnpackLevels(uint32_t packed)
{
    std::array<uint8_t, 4> levels{};
    for (size_t i = 0; i < levels.size(); ++i)
        levels[i] = uint8_t(packed >> (8 * i));
    return levels;
}

} // namespace

bool ParseFaultOption(const std::string& option, std::string& endpoint, Fault& fault)
{
    // A fuzz seed comes after a second colon.
    size_t colon = option.find(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    endpoint = option.substr(0, colon);
    if (!endpoint.empty() && endpoint.front() == '/')
        endpoint.erase(0, 1);
    std::string kind = option.substr(colon + 1);
    std::string value;
    if (size_t eq = kind.find('='); eq != std::string::npos) {
        value = kind.substr(eq + 1);
        kind.erase(eq);
    }
    int n = 0;
    if (kind == "hang" && value.empty()) {
        fault.hang = true;
        return true;
    }
    if (kind == "stream") {
        std::optional<uint64_t> seed;
        if (size_t at = value.find(':'); at != std::string::npos) {
            uint64_t n = 0;
            const char* end = value.data() + value.size();
            auto [stop, ec] = std::from_chars(value.data() + at + 1, end, n);
            if (ec != std::errc() || stop != end || at + 1 == value.size())
                return false;
            seed = n;
            value.erase(at);
        }
        StreamDefect defect;
        if (!ParseStreamDefect(value, defect) || (seed && defect != StreamDefect::Fuzz))
            return false;
        fault.stream = value;
        fault.seed = seed;
        return true;
    }
    if (!ParseInt(value, n) || n < 0)
        return false;
    if (kind == "delay")
        fault.delayMs = n;
    else if (kind == "close")
        fault.closeAfterBytes = n;
    else if (kind == "status" && n >= 100 && n <= 599)
        fault.status = n;
    else if (kind == "after")
        fault.afterPictures = n;
    else if (kind == "audio-delay" && n <= 60000)
        fault.audioDelayMs = n;
    else
        return false;
    return true;
}

Camera::StreamSlot::~StreamSlot()
{
    if (m_camera)
        m_camera->m_activeStreams.fetch_sub(1);
}

namespace {

std::unique_ptr<httplib::Server> MakeServer(const Config& config)
{
    if (config.tlsCert.empty() && config.tlsKey.empty())
        return std::make_unique<httplib::Server>();
    // A half-given pair makes an invalid server, so Start refuses it.
    return std::make_unique<httplib::SSLServer>(config.tlsCert.c_str(), config.tlsKey.c_str());
}

} // namespace

Camera::Camera(Config config)
    : m_config(std::move(config)), m_server(MakeServer(m_config)),
      m_streams(std::make_unique<SharedStreams>(*this))
{
    m_zones = ZoneConfig::Defaults();
    if (!m_config.zonesFile.empty())
        if (auto stored = LoadZoneFile(m_config.zonesFile))
            m_zones = *stored;
    m_zones.resolution = m_config.zoneResolution;

    AddEndpoint("GET", "img/query.cgi",
                [this](const httplib::Request& q, httplib::Response& r) { ImageQuery(q, r); });
    AddEndpoint("GET", "util/query.cgi",
                [this](const httplib::Request& q, httplib::Response& r) { UtilQuery(q, r); });
    AddEndpoint("GET", "pt/ptctrl.cgi",
                [this](const httplib::Request& q, httplib::Response& r) { PanTilt(q, r); });
    AddEndpoint("POST", "ocxparser.cgi", [this](const httplib::Request& q, httplib::Response& r) {
        ZoneCommandEndpoint(q, r);
    });
    AddMJpegEndpoint(*this);
    AddAsfEndpoint(*this);
}

Camera::~Camera()
{
    Stop();
}

void Camera::AddEndpoint(const std::string& method, const std::string& endpoint, Handler handler)
{
    m_endpoints[method][endpoint] = std::move(handler);
}

bool Camera::Start(const std::string& host, int port)
{
    if (m_listener.joinable() || !TlsReady())
        return false;
    m_host = host;
    // Every stream client holds a server thread for as long as it watches; queries and
    // keep-alive connections need their own beside them.
    const size_t threads = size_t(std::max(kMinStreamClients, m_config.maxUsers)) + 16;
    m_server->new_task_queue = [threads] { return new GrowingTaskPool(threads); };
    m_server->set_payload_max_length(1 << 20);
    m_server->set_keep_alive_timeout(2);
    auto dispatch = [this](const httplib::Request& q, httplib::Response& r) { Dispatch(q, r); };
    m_server->Get(R"(/.*)", dispatch);
    m_server->Post(R"(/.*)", dispatch);
    m_server->set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
            res.status = 500;
            res.set_content(StatusPage(500), kHtmlType);
        });

    if (port == 0) {
        m_port = m_server->bind_to_any_port(host);
    } else {
        m_port = m_server->bind_to_port(host, port) ? port : -1;
    }
    if (m_port <= 0) {
        m_port = 0;
        return false;
    }
    m_listener = std::thread([this] {
        m_server->listen_after_bind();
        m_listenerDone = true;
    });
    return true;
}

void Camera::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_streams->Stop();
    if (m_listener.joinable()) {
        // The server ignores stop() until its loop has begun, so wait for that (or its failure).
        while (!m_server->is_running() && !m_listenerDone)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        m_server->stop();
        m_listener.join();
    }
}

bool Camera::TlsReady() const
{
    return m_server->is_valid();
}

int Camera::RunningEncoders() const
{
    return m_streams->Running();
}

uint64_t Camera::EncodersStarted() const
{
    return m_streams->Started();
}

std::string Camera::BaseUrl() const
{
    return (Secure() ? "https://" : "http://") + m_host + ":" + std::to_string(m_port) + "/";
}

void Camera::SetFault(const std::string& endpoint, const Fault& fault)
{
    {
        std::lock_guard lock(m_mutex);
        Fault& set = m_faults[endpoint] = fault;
        if (set.stream == "fuzz" && !set.seed)
            set.seed = (uint64_t(std::random_device{}()) << 32) | std::random_device{}();
        ++m_faultGeneration;
        m_fuzzConnections.clear();
    }
    m_changed.notify_all();
}

void Camera::ClearFaults()
{
    {
        std::lock_guard lock(m_mutex);
        m_faults.clear();
        ++m_faultGeneration;
        m_fuzzConnections.clear();
    }
    m_changed.notify_all();
}

uint64_t Camera::NextFuzzSeed(const std::string& endpoint)
{
    std::lock_guard lock(m_mutex);
    auto it = m_faults.find(endpoint);
    if (it == m_faults.end())
        it = m_faults.find("*");
    const uint64_t seed = it != m_faults.end() && it->second.seed ? *it->second.seed : 0;
    return seed + m_fuzzConnections[endpoint]++;
}

Fault Camera::FaultFor(const std::string& endpoint) const
{
    std::lock_guard lock(m_mutex);
    if (auto it = m_faults.find(endpoint); it != m_faults.end())
        return it->second;
    if (auto it = m_faults.find("*"); it != m_faults.end())
        return it->second;
    return {};
}

std::vector<RequestRecord> Camera::Requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::vector<PanTiltCommand> Camera::PanTiltCommands() const
{
    std::lock_guard lock(m_mutex);
    return m_panTilt;
}

ZoneConfig Camera::Zones() const
{
    std::lock_guard lock(m_mutex);
    return m_zones;
}

void Camera::SetZones(const ZoneConfig& zones)
{
    std::lock_guard lock(m_mutex);
    m_zones = zones;
    m_zones.resolution = m_config.zoneResolution;
}

void Camera::SetZoneLevels(std::array<uint8_t, 4> levels)
{
    m_fixedLevels = kFixedLevels | PackLevels(levels);
}

void Camera::MeasureZoneLevels()
{
    m_fixedLevels = 0;
}

std::optional<std::array<uint8_t, 4>> Camera::FixedZoneLevels() const
{
    const uint64_t fixed = m_fixedLevels.load();
    if (!(fixed & kFixedLevels))
        return std::nullopt;
    return UnpackLevels(uint32_t(fixed));
}

void Camera::ReportZoneLevels(std::array<uint8_t, 4> measured)
{
    m_measuredLevels = PackLevels(measured);
}

std::array<uint8_t, 4> Camera::ZoneLevels() const
{
    if (auto fixed = FixedZoneLevels())
        return *fixed;
    return UnpackLevels(m_measuredLevels.load());
}

Camera::StreamSlot Camera::AcquireStreamSlot()
{
    int current = m_activeStreams.load();
    while (current < m_config.maxUsers)
        if (m_activeStreams.compare_exchange_weak(current, current + 1))
            return StreamSlot(this);
    return StreamSlot();
}

bool Camera::WaitStopping(int ms)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stopping.load(); });
}

void Camera::Record(RequestRecord record)
{
    std::lock_guard lock(m_mutex);
    // Bounded, so a long-running camsim does not grow without end.
    if (m_requests.size() >= 10000)
        m_requests.erase(m_requests.begin(), m_requests.begin() + 5000);
    m_requests.push_back(std::move(record));
}

void Camera::Dispatch(const httplib::Request& req, httplib::Response& res)
{
    m_arrived.fetch_add(1);
    RequestRecord record;
    record.method = req.method;
    record.endpoint = req.path.size() > 1 ? req.path.substr(1) : std::string();
    record.body = req.body;
    record.userAgent = req.get_header_value("User-Agent");
    record.contentType = req.get_header_value("Content-Type");
    if (size_t q = req.target.find('?'); q != std::string::npos)
        record.query = req.target.substr(q + 1);

    const Fault fault = FaultFor(record.endpoint);
    {
        std::unique_lock lock(m_mutex);
        if (fault.delayMs > 0)
            m_changed.wait_for(lock, std::chrono::milliseconds(fault.delayMs),
                               [this] { return m_stopping.load(); });
        if (fault.hang) {
            const uint64_t generation = m_faultGeneration;
            m_changed.wait(lock, [&] { return m_stopping || m_faultGeneration != generation; });
        }
    }
    if (m_stopping) {
        res.status = 503;
        res.set_content(kPage503, kHtmlType);
        Record(std::move(record));
        return;
    }

    const bool authorized = Authorized(req, record);
    record.authorized = authorized;
    const std::string endpoint = record.endpoint;
    Record(std::move(record));

    if (!authorized) {
        Challenge(res);
    } else if (fault.status != 0) {
        res.status = fault.status;
        res.set_content(StatusPage(fault.status), kHtmlType);
    } else {
        const std::string method = req.method == "HEAD" ? "GET" : req.method;
        auto byMethod = m_endpoints.find(method);
        auto handler = byMethod == m_endpoints.end() ? nullptr : &byMethod->second;
        if (handler && handler->count(endpoint)) {
            res.status = 200;
            (*handler)[endpoint](req, res);
        } else {
            bool otherMethod = false;
            for (const auto& [m, endpoints] : m_endpoints)
                otherMethod = otherMethod || endpoints.count(endpoint) > 0;
            res.status = otherMethod ? 405 : 404;
            res.set_content(StatusPage(res.status), kHtmlType);
        }
    }
    if (fault.closeAfterBytes >= 0)
        CutAfter(res, size_t(fault.closeAfterBytes));
}

bool Camera::Authorized(const httplib::Request& req, RequestRecord& record)
{
    if (m_config.user.empty())
        return true;
    const std::string header = req.get_header_value("Authorization");
    if (header.empty())
        return false;
    if (m_config.auth != AuthScheme::Digest) {
        if (auto basic = ParseBasic(header)) {
            record.authUser = basic->user;
            record.authPassword = basic->password;
            return basic->user == m_config.user &&
                   PasswordMatches(basic->password, m_config.password);
        }
    }
    if (m_config.auth != AuthScheme::Basic) {
        if (auto fields = ParseDigest(header)) {
            record.authUser = (*fields)["username"];
            bool knownNonce;
            {
                std::lock_guard lock(m_mutex);
                knownNonce = m_nonces.count((*fields)["nonce"]) > 0;
            }
            return knownNonce && (*fields)["username"] == m_config.user &&
                   (*fields)["realm"] == kRealm && !(*fields)["uri"].empty() &&
                   DigestMatches(*fields, m_config.password, req.method);
        }
    }
    return false;
}

void Camera::Challenge(httplib::Response& res)
{
    res.status = 401;
    if (m_config.auth != AuthScheme::Basic) {
        std::string nonce;
        {
            std::lock_guard lock(m_mutex);
            nonce = Md5Hex(std::to_string(++m_nonceCounter) + ":" +
                           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
            if (m_nonces.size() >= 4096)
                m_nonces.erase(m_nonces.begin());
            m_nonces.insert(nonce);
        }
        res.set_header("WWW-Authenticate", std::string("Digest realm=\"") + kRealm +
                                               "\", qop=\"auth\", algorithm=MD5, nonce=\"" +
                                               nonce + "\"");
    }
    if (m_config.auth != AuthScheme::Digest)
        res.set_header("WWW-Authenticate", std::string("Basic realm=\"") + kRealm + "\"");
    res.set_content(kPage401, kHtmlType);
}

void Camera::ImageQuery(const httplib::Request&, httplib::Response& res)
{
    res.set_content("ptctrl=" + m_config.ptctrl + "\r\nioctrl=" + m_config.ioctrl + "\r\n",
                    kTextType);
}

void Camera::UtilQuery(const httplib::Request&, httplib::Response& res)
{
    res.set_content("type=" + m_config.videoType + "\r\nvoice_out=" + m_config.voiceOut +
                        "\r\nresolutions=" + m_config.resolutions + "\r\n",
                    kTextType);
}

void Camera::PanTilt(const httplib::Request& req, httplib::Response& res)
{
    const std::string position = req.get_param_value("position");
    PanTiltCommand command;
    size_t a = position.find(','), b = a == std::string::npos ? a : position.find(',', a + 1);
    std::string_view text(position);
    if (b == std::string::npos || !ParseInt(text.substr(0, a), command.h) ||
        !ParseInt(text.substr(a + 1, b - a - 1), command.v) ||
        !ParseInt(text.substr(b + 1), command.speed)) {
        res.status = 400;
        res.set_content(StatusPage(400), kHtmlType);
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_panTilt.push_back(command);
    }
    m_aimX += command.h;
    m_aimY += command.v;
    res.set_content("OK\r\n", kTextType);
}

void Camera::ZoneCommandEndpoint(const httplib::Request& req, httplib::Response& res)
{
    switch (ParseZoneCommand(req.body)) {
    case ZoneCommand::Read:
        if (m_config.zoneRead403) {
            res.status = 403;
            res.set_content(kPage403, kHtmlType);
        } else {
            res.set_content(FormatZoneReply(Zones()), kTextType);
        }
        return;
    case ZoneCommand::Save: {
        std::lock_guard lock(m_mutex);
        auto parsed = ParseZoneSave(req.body, m_zones);
        if (!parsed) {
            res.status = 400;
            res.set_content("MOT: ERROR\r\n", kTextType);
            return;
        }
        // The client always sends code 3; the camera keeps reporting its own.
        parsed->resolution = m_config.zoneResolution;
        if (!m_config.zonesFile.empty() && !SaveZoneFile(m_config.zonesFile, *parsed)) {
            res.status = 500;
            res.set_content("MOT: ERROR\r\n", kTextType);
            return;
        }
        m_zones = *parsed;
        res.set_content("MOT: OK\r\n", kTextType);
        return;
    }
    case ZoneCommand::Free:
        res.set_content("MOT: OK\r\n", kTextType);
        return;
    case ZoneCommand::Unknown:
        res.status = 400;
        res.set_content("MOT: ERROR\r\n", kTextType);
        return;
    }
}

} // namespace camsim
