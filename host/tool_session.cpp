#include "host/tool_session.h"

#include "host/request_log.h"
#include "platform/clock.h"
#include "stream/stream_worker.h"
#include "viewer/camera_query.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>

namespace host {

namespace {

// The trace line of a finished request is written before the request returns; the log's reader
// takes it a moment later.
constexpr auto kTraceWait = std::chrono::milliseconds(500);

std::string PathOf(const std::string& url)
{
    const size_t scheme = url.find("://");
    const size_t slash = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    return slash == std::string::npos ? "/" : url.substr(slash);
}

// Temporary files of this process, for a forced end to remove.
std::mutex g_pendingLock;
std::set<std::string> g_pending; // guarded by g_pendingLock

} // namespace

ToolOutcome ToolOutcome::Of(Failure failure, const std::string& address, const std::string& detail)
{
    return {ExitCodeOf(failure), FailureLine(failure, address, detail)};
}

CameraSession::CameraSession(Settings settings) : m_settings(std::move(settings)) {}

PosterTimings CameraSession::Poster() const
{
    PosterTimings timings;
    timings.sendWait = m_settings.timeout;
    return timings;
}

void CameraSession::UseCredentials(std::string user, std::string password)
{
    m_user = std::move(user);
    m_password = std::move(password);
}

bool CameraSession::StopAsked()
{
    if (!m_settings.stop || !m_settings.stop->load())
        return false;
    if (!m_stopTold && m_settings.stopSeen)
        m_settings.stopSeen();
    m_stopTold = true;
    return true;
}

void CameraSession::Mark()
{
    if (m_settings.log)
        for (RequestOutcome& r : m_settings.log->Take())
            m_outcomes.push_back(std::move(r));
    m_mark = m_outcomes.size();
}

std::optional<RequestOutcome> CameraSession::OutcomeOf(const std::string& url)
{
    if (!m_settings.log)
        return std::nullopt;
    const auto until = std::chrono::steady_clock::now() + kTraceWait;
    for (;;) {
        for (RequestOutcome& r : m_settings.log->Take())
            m_outcomes.push_back(std::move(r));
        for (size_t i = m_outcomes.size(); i > m_mark; --i)
            if (m_outcomes[i - 1].url == url)
                return m_outcomes[i - 1];
        if (std::chrono::steady_clock::now() >= until)
            return std::nullopt;
        platform::SleepMs(2);
    }
}

ToolOutcome CameraSession::LoginFailed(const std::string& detail) const
{
    if (!m_settings.given.Given())
        return ToolOutcome::Of(Failure::LoginCancelled, m_settings.shown,
                               "the camera asks for credentials: give --user and "
                               "--password-file or CAMCTL_PASSWORD");
    return ToolOutcome::Of(Failure::LoginRefused, m_settings.shown, detail);
}

ToolOutcome CameraSession::RequestFailed(const std::string& url, int posterError, bool viewer)
{
    RequestOutcome r;
    if (auto traced = OutcomeOf(url)) {
        r = *traced;
    } else {
        r.url = url;
        r.error = posterError;
        r.cancelled = posterError == 0;
        r.ms = long(m_settings.timeout.count());
    }
    std::string detail;
    const Failure failure = FailureOfRequest(r, viewer, detail);
    if (failure != Failure::None)
        return ToolOutcome::Of(failure, m_settings.shown, detail);
    // Answered, but the reply never came whole (it ran past what a camera's reply can be).
    return ToolOutcome::Of(Failure::NotACamera, m_settings.shown,
                           "no whole reply to " + PathOf(url));
}

ToolOutcome CameraSession::Get(const std::string& url, std::string& reply)
{
    Mark();
    CHttpPoster poster(kViewerPosterProfile, Poster());
    if (!poster.Request(reply, url, false, m_user, m_password))
        return RequestFailed(url, poster.GetLastError());
    if (const auto traced = OutcomeOf(url)) {
        std::string detail;
        const Failure failure = FailureOfRequest(*traced, true, detail);
        if (failure != Failure::None)
            return ToolOutcome::Of(failure, m_settings.shown, detail);
    }
    return ToolOutcome::Ok();
}

ToolOutcome CameraSession::LogIn(const std::string& imageQueryUrl, LoginAnswer& answer)
{
    // Every page load starts without credentials.
    UseCredentials({}, {});
    if (ToolOutcome o = Get(imageQueryUrl, answer.reply); o.Failed())
        return o;
    answer.wantsCredentials = IsAuthorizationPage(answer.reply);
    if (!answer.wantsCredentials) {
        answer.state = "not needed";
        return ToolOutcome::Ok();
    }
    if (!m_settings.given.Given()) {
        answer.state = "not given";
        return LoginFailed();
    }
    UseCredentials(m_settings.given.user, m_settings.given.password);
    if (ToolOutcome o = Get(imageQueryUrl, answer.reply); o.Failed())
        return o;
    if (IsAuthorizationPage(answer.reply)) {
        answer.state = "refused";
        UseCredentials({}, {});
        return LoginFailed();
    }
    answer.state = "accepted";
    return ToolOutcome::Ok();
}

ToolOutcome CameraSession::StreamFailed(const std::string& url, int result,
                                        const std::string& message)
{
    const std::string said = message.empty() ? "" : ": " + message;
    if (const auto traced = OutcomeOf(url)) {
        std::string detail;
        const Failure failure = FailureOfRequest(*traced, true, detail);
        if (failure != Failure::None)
            return ToolOutcome::Of(failure, m_settings.shown, detail);
        // The stream's own 401 page reads as a stream that does not begin as it should (300).
        if (traced->status == 401)
            return LoginFailed();
    }
    switch (result) {
    case kResultOk:
        return ToolOutcome::Ok(); // no result: only the trace could tell
    case kResultConnect:
        return ToolOutcome::Of(Failure::Refused, m_settings.shown, "the stream did not open");
    case kResultCredentials:
        return LoginFailed("the stream" + said);
    case kResultBusy:
        return ToolOutcome::Of(Failure::Busy, m_settings.shown, {});
    case kResultRead:
        return ToolOutcome::Of(Failure::Refused, m_settings.shown,
                               "the stream broke off, result 400" + said);
    case kResultStreamNumber:
    case kResultMalformed:
        return ToolOutcome::Of(Failure::NotACamera, m_settings.shown,
                               "malformed stream, result " + std::to_string(result) + said);
    default:
        return ToolOutcome::Error(kExitError, "the stream failed with result " +
                                                  std::to_string(result) + " (" +
                                                  ResultMeaning(result) + ")" + said);
    }
}

PendingFile::PendingFile(std::string target) : m_target(std::move(target)) {}

PendingFile::~PendingFile()
{
    if (m_temporary.empty())
        return;
    ::unlink(m_temporary.c_str());
    std::lock_guard lock(g_pendingLock);
    g_pending.erase(m_temporary);
}

bool PendingFile::Create(std::string& why)
{
    const std::filesystem::path target(m_target);
    const std::string stem = target.filename().string();
    // Hidden and unique to this process; O_EXCL never takes over a file that is there.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = (target.parent_path() / ("." + stem + ".camhost-" +
                                                          std::to_string(::getpid()) + "-" +
                                                          std::to_string(attempt)))
                                     .string();
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            std::lock_guard lock(g_pendingLock);
            m_temporary = name;
            g_pending.insert(name);
            return true;
        }
        if (errno != EEXIST) {
            why = "cannot write in " + target.parent_path().string() + " (" +
                  std::strerror(errno) + ")";
            return false;
        }
    }
    why = "cannot make a temporary file beside " + m_target;
    return false;
}

bool PendingFile::Commit(std::string& why)
{
    if (std::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        why = "cannot write " + m_target + " (" + std::strerror(errno) + ")";
        return false;
    }
    std::lock_guard lock(g_pendingLock);
    g_pending.erase(m_temporary);
    m_temporary.clear();
    return true;
}

void PendingFile::RemoveLeftovers()
{
    std::lock_guard lock(g_pendingLock);
    for (const std::string& name : g_pending)
        ::unlink(name.c_str());
}

bool CanWriteBeside(const std::string& target, std::string& why)
{
    const std::filesystem::path folder = std::filesystem::path(target).parent_path();
    std::error_code ec;
    if (std::filesystem::is_directory(target, ec)) {
        why = target + " is a folder";
        return false;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        why = "cannot write in " + folder.string() + " (" + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

} // namespace host
