#include "host/control_status.h"

#include "host/options.h"
#include "platform/http.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace host {

namespace {

constexpr int kBusyResult = 310;
// The zone control's message strings.
constexpr int kZoneConnectFailed = 1001, kZoneBusy = 1003, kZoneProtected = 1004;
// libcurl's codes for a host that is not there.
constexpr int kCurlUnknownHost = 6, kCurlNoConnection = 7, kCurlTimedOut = 28;
// libcurl's codes for bytes that are no HTTP reply (an HTTP/0.9 one is refused): something
// answered, but no camera would.
constexpr int kCurlNotHttp = 1, kCurlWeirdReply = 8;
constexpr int64_t kTraceGraceMs = 1000;

// Where the value of "key" starts in a flat JSON object, or npos.
size_t ValueAt(std::string_view json, std::string_view key)
{
    const std::string quoted = "\"" + std::string(key) + "\":";
    const size_t at = json.find(quoted);
    return at == std::string_view::npos ? at : at + quoted.size();
}

uint64_t Number(std::string_view json, std::string_view key)
{
    const size_t at = ValueAt(json, key);
    return at == std::string_view::npos ? 0 : std::strtoull(json.data() + at, nullptr, 10);
}

bool Flag(std::string_view json, std::string_view key)
{
    const size_t at = ValueAt(json, key);
    return at != std::string_view::npos && json.substr(at, 4) == "true";
}

std::string Text(std::string_view json, std::string_view key)
{
    const size_t at = ValueAt(json, key);
    if (at == std::string_view::npos || at >= json.size() || json[at] != '"')
        return {};
    const size_t end = json.find('"', at + 1);
    return end == std::string_view::npos ? std::string() : std::string(json.substr(at + 1, end - at - 1));
}

std::string PathOf(const std::string& url)
{
    const size_t scheme = url.find("://");
    const size_t slash = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    return slash == std::string::npos ? "/" : url.substr(slash);
}

bool IsStream(const std::string& url)
{
    return url.find("img/video.asf") != std::string::npos ||
           url.find("img/mjpeg.cgi") != std::string::npos;
}

} // namespace

int ExitCodeOf(Failure failure)
{
    switch (failure) {
    case Failure::None: return kExitOk;
    case Failure::NothingListening: return kExitNothingListening;
    case Failure::NoAnswer: return kExitNoAnswer;
    case Failure::Refused: return kExitRefused;
    case Failure::LoginRefused: return kExitLoginRefused;
    case Failure::LoginCancelled: return kExitLoginCancelled;
    case Failure::Busy: return kExitBusy;
    case Failure::NotACamera: return kExitNotACamera;
    case Failure::Untrusted: return kExitUntrusted;
    }
    return kExitError;
}

bool Retries(Failure failure)
{
    return failure == Failure::NothingListening || failure == Failure::NoAnswer ||
           failure == Failure::Refused;
}

std::string FailureLine(Failure failure, const std::string& address, const std::string& detail)
{
    const std::string more = detail.empty() ? "" : " (" + detail + ")";
    switch (failure) {
    case Failure::None: return {};
    case Failure::NothingListening: return "nothing listening at " + address + more;
    case Failure::NoAnswer: return address + " does not answer" + more;
    case Failure::Refused: return address + " refused the connection" + more;
    case Failure::LoginRefused: return address + " refused the user name or password";
    case Failure::LoginCancelled: return "login to " + address + " cancelled" + more;
    case Failure::Busy: return "the camera at " + address + " is busy (too many users)";
    case Failure::NotACamera: return address + " answers, but not as a camera" + more;
    case Failure::Untrusted:
        // Once a certificate is trusted by hand, the hint would only mislead.
        return "the certificate of " + address + " failed verification" + more +
               (std::getenv("CAMCTL_CACERT") ? "" : "; --cacert FILE trusts a camera's own");
    }
    return {};
}

std::string ResultMeaning(int code)
{
    switch (code) {
    case 0: return "normal end";
    case 100: return "out of memory";
    case 200: return "connection failed";
    case 300: return "credentials refused";
    case 310: return "camera busy";
    case 400: return "read failure";
    case 420: return "unknown stream number";
    case 430: return "malformed stream data";
    case 500: return "file failure";
    default: return "other failure";
    }
}

ControlCounters ReadCounters(bool viewer, std::string_view json)
{
    ControlCounters c;
    c.valid = !json.empty() && json.front() == '{';
    if (!c.valid)
        return c;
    if (viewer) {
        c.pictures = Number(json, "painted");
        c.connected = Flag(json, "connected");
        c.sound = Text(json, "sound");
        c.playAudio = Number(json, "playAudio") != 0;
        c.drift = ReadReadout(json, "drift");
        c.latency = ReadReadout(json, "latency");
        if (const ReadoutCounters at = ReadReadout(json, "picture"); at.recent.size() == 4)
            c.picture = {int(at.recent[0]), int(at.recent[1]), int(at.recent[2]),
                         int(at.recent[3])};
        const size_t at = ValueAt(json, "results");
        const size_t end = at == std::string_view::npos ? at : json.find(']', at);
        if (end != std::string_view::npos) {
            const std::string_view list = json.substr(at + 1, end - at - 1);
            size_t start = 0;
            while (start < list.size()) {
                const size_t comma = list.find(',', start);
                c.lastResult = std::atoi(std::string(list.substr(start, comma - start)).c_str());
                ++c.resultCount;
                if (comma == std::string_view::npos)
                    break;
                start = comma + 1;
            }
        }
    } else {
        c.pictures = Number(json, "decoded");
        c.resultCount = Number(json, "resultCount");
        c.lastResult = int(Number(json, "result"));
        c.live = Flag(json, "live");
        c.streaming = Flag(json, "streaming");
        c.messageId = int(Number(json, "messageId"));
        c.connected = c.live;
    }
    return c;
}

int ExitCodeFor(const Status& s)
{
    switch (s.phase) {
    case Phase::Failed:
        return ExitCodeOf(s.failure);
    case Phase::VideoEnded:
        // A stream the server ended, when nothing more is known.
        return s.failure == Failure::None ? kExitRefused : ExitCodeOf(s.failure);
    case Phase::Reconnecting:
        return ExitCodeOf(s.failure);
    case Phase::Silent:
        return kExitNoAnswer;
    default:
        return kExitOk;
    }
}

std::string StatusText(const Status& s, const std::string& address, std::optional<int> retryIn)
{
    std::string text;
    switch (s.phase) {
    case Phase::Connecting:
        text = s.connected ? "Connected to " + address + ", waiting for the first picture"
                           : "Connecting to " + address + "...";
        break;
    case Phase::LoggingIn:
        text = "Logging in to " + address + "...";
        break;
    case Phase::Playing: {
        char rate[32];
        std::snprintf(rate, sizeof rate, s.fps < 10 ? "%.1f" : "%.0f", s.fps);
        text = std::string("Playing at ") + rate + " pictures/s";
        break;
    }
    case Phase::Silent:
        text = "No picture for " + std::to_string(s.silentMs / 1000) +
               " s: the camera has stopped sending";
        break;
    case Phase::Reconnecting:
        text = "Reconnecting after result code " + std::to_string(s.code) + " (" +
               ResultMeaning(s.code) + ")" + (s.detail.empty() ? "" : ": " + s.detail);
        break;
    case Phase::VideoEnded:
        text = "Live video ended (result code " + std::to_string(s.code) + ", " +
               ResultMeaning(s.code) + ")";
        break;
    case Phase::Failed: {
        text = FailureLine(s.failure, address, s.detail);
        if (!text.empty())
            text[0] = char(std::toupper(static_cast<unsigned char>(text[0])));
        break;
    }
    case Phase::Stopped:
        text = "Stopped";
        break;
    }
    if (retryIn)
        text += "; retrying in " + std::to_string(*retryIn) + " s";
    else if (s.phase == Phase::Failed || s.phase == Phase::VideoEnded)
        text += "; F5 tries again";
    return text;
}

StatusTracker::StatusTracker(bool viewer, long silentAfterMs)
    : m_viewer(viewer), m_silentAfterMs(silentAfterMs)
{
}

void StatusTracker::NewControl()
{
    m_haveBase = false;
    m_pictures = m_results = 0;
    m_lastPictureAt = m_lastResultAt = -1;
    m_history.clear();
    m_endCounted = false;
    m_last.reset();
    m_refused.clear();
    m_lastStreamStatus = 0;
    m_scriptedAt = -1;
}

Failure FailureOfRequest(const RequestOutcome& r, bool viewer, std::string& detail)
{
    if (r.status == 0) {
        if (r.cancelled || r.error == kCurlTimedOut) {
            detail = "no reply in " + std::to_string((r.ms + 500) / 1000) + " s";
            return Failure::NoAnswer;
        }
        if (r.error == kCurlUnknownHost) {
            detail = "unknown host";
            return Failure::NothingListening;
        }
        if (r.error == kCurlNoConnection)
            return Failure::NothingListening;
        if (platform::IsCertificateFailure(r.error)) {
            detail = r.errorText;
            return Failure::Untrusted;
        }
        detail = r.errorText;
        if (r.error == kCurlNotHttp || r.error == kCurlWeirdReply)
            return Failure::NotACamera;
        return Failure::Refused;
    }
    if (r.status == 200 || r.status == 401 || r.status == 503)
        return Failure::None;
    // The zone control reads the camera's 403 page as busy; the viewer has no such page.
    if (r.status == 403) {
        if (!viewer)
            return Failure::None;
        detail = "HTTP 403 for " + PathOf(r.url);
        return Failure::Refused;
    }
    detail = "HTTP " + std::to_string(r.status) + " for " + PathOf(r.url);
    return Failure::NotACamera;
}

void StatusTracker::OnRequest(const RequestOutcome& r)
{
    m_last = r;
    if (IsStream(r.url))
        m_lastStreamStatus = r.status;
    if (r.status == 0)
        return;
    std::string detail;
    const Failure failure = FailureOfRequest(r, m_viewer, detail);
    if (failure == Failure::Refused)
        m_refused = detail;
    else if (failure == Failure::NotACamera && m_notCamera.empty())
        m_notCamera = detail;
}

Failure StatusTracker::TransportFailure(std::string& detail) const
{
    if (!m_last || m_last->status != 0)
        return Failure::None;
    return FailureOfRequest(*m_last, m_viewer, detail);
}

Status StatusTracker::Update(int64_t now, const ControlCounters& c, LoginState login,
                             bool scripted)
{
    if (c.valid) {
        if (!m_haveBase) {
            // Zone counters belong to the process and outlive a reloaded control.
            m_haveBase = true;
            m_basePictures = m_viewer ? 0 : c.pictures;
            m_baseResults = m_viewer ? 0 : c.resultCount;
        }
        const uint64_t pictures = c.pictures - std::min(c.pictures, m_basePictures);
        const uint64_t results = c.resultCount - std::min(c.resultCount, m_baseResults);
        if (pictures > m_pictures) {
            m_lastPictureAt = now;
            m_strikes = 0;
        }
        if (results > m_results) {
            m_lastResultAt = now;
            if (m_viewer && pictures == 0 && m_lastStreamStatus == 200 &&
                c.lastResult != kBusyResult)
                m_strikes += int(results - m_results);
        }
        m_pictures = pictures;
        m_results = results;
        m_history.emplace_back(now, pictures);
        while (m_history.size() > 2 && now - m_history.front().first > 2000)
            m_history.pop_front();
        if (!m_viewer && c.live && !c.streaming && !m_endCounted) {
            m_endCounted = true;
            if (pictures == 0 && m_lastStreamStatus == 200)
                ++m_strikes;
        }
    }
    if (!scripted)
        m_scriptedAt = -1;
    else if (m_scriptedAt < 0)
        m_scriptedAt = now;
    Status s = Classify(now, c, login, scripted);
    s.connected = c.connected;
    return s;
}

Status StatusTracker::Classify(int64_t now, const ControlCounters& c, LoginState login,
                               bool scripted)
{
    Status s;
    auto failed = [&](Failure f, std::string detail = {}) {
        s.phase = Phase::Failed;
        s.failure = f;
        s.detail = std::move(detail);
        return s;
    };
    auto transport = [&]() {
        // The trace comes from another thread; give the failed request's line time to arrive.
        if (!m_last && now - m_scriptedAt < kTraceGraceMs)
            return s;
        // The viewer's prompt closes itself after the third refusal.
        if (m_last && m_last->status == 401)
            return failed(Failure::LoginRefused);
        std::string detail;
        const Failure f = TransportFailure(detail);
        return failed(f == Failure::None ? Failure::Refused : f, detail);
    };
    if (!c.valid)
        return s;
    if (!m_notCamera.empty())
        return failed(Failure::NotACamera, m_notCamera);
    if (m_strikes >= 2)
        return failed(Failure::NotACamera, "its stream brings no picture");

    if (m_viewer) {
        if (!m_refused.empty())
            return failed(Failure::Refused, m_refused);
        if (!c.connected) {
            if (login == LoginState::Cancelled)
                return failed(Failure::LoginCancelled);
            if (login == LoginState::Refused)
                return failed(Failure::LoginRefused);
            if (!scripted) {
                s.phase = login == LoginState::Asked ? Phase::LoggingIn : Phase::Connecting;
                return s;
            }
            return transport();
        }
        if (m_results > 0 && c.lastResult == kBusyResult)
            return failed(Failure::Busy);
        s.code = c.lastResult;
        return Pictures(now, s);
    }

    switch (c.messageId) {
    case kZoneProtected:
        return failed(login == LoginState::Cancelled ? Failure::LoginCancelled
                                                     : Failure::LoginRefused);
    case kZoneBusy:
        return failed(Failure::Busy);
    case kZoneConnectFailed:
        if (m_results > 0 && c.lastResult == kBusyResult)
            return failed(Failure::Busy);
        return transport();
    default:
        break;
    }
    if (!scripted) {
        s.phase = login == LoginState::Asked ? Phase::LoggingIn : Phase::Connecting;
        return s;
    }
    if (!c.live) {
        s.phase = Phase::Stopped;
        return s;
    }
    if (!c.streaming) {
        // The worker has ended on the busy page before the control has shown it.
        if (m_results > 0 && c.lastResult == kBusyResult)
            return failed(Failure::Busy);
        s.phase = Phase::VideoEnded;
        s.code = m_results > 0 ? c.lastResult : 0;
        s.failure = TransportFailure(s.detail);
        return s;
    }
    return Pictures(now, s);
}

Status StatusTracker::Pictures(int64_t now, Status s) const
{
    if (m_results > 0 && m_lastResultAt >= m_lastPictureAt && m_viewer) {
        s.phase = Phase::Reconnecting;
        std::string detail;
        s.failure = TransportFailure(detail);
        switch (s.failure) {
        case Failure::NothingListening: s.detail = "nothing listening"; break;
        case Failure::NoAnswer: s.detail = "no answer"; break;
        case Failure::Refused: s.detail = "connection refused, " + detail; break;
        default: break;
        }
        return s;
    }
    if (m_lastPictureAt < 0) {
        s.phase = Phase::Connecting;
        return s;
    }
    if (now - m_lastPictureAt > m_silentAfterMs) {
        s.phase = Phase::Silent;
        s.silentMs = long(now - m_lastPictureAt);
        return s;
    }
    s.phase = Phase::Playing;
    const auto& [t0, p0] = m_history.front();
    if (now - t0 >= 400)
        s.fps = double(m_pictures - p0) * 1000.0 / double(now - t0);
    return s;
}

} // namespace host
