#pragma once
// What every headless tool does with the camera: one request at a time through the command
// poster, the login as the viewer's page makes it, and each failure told apart as the window
// tells it (from the HTTP trace, else from the poster), with its line and exit code.

#include "host/control_status.h"
#include "host/credentials.h"
#include "host/options.h"
#include "stream/http_poster.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace host {

class RequestLog;

// How a tool ended: exit code 0 and no line, or the code and the line camhost says on stderr.
struct ToolOutcome
{
    int code = kExitOk;
    std::string line;

    bool Failed() const { return code != kExitOk; }
    static ToolOutcome Ok() { return {}; }
    static ToolOutcome Of(Failure failure, const std::string& address, const std::string& detail);
    static ToolOutcome Error(int code, std::string line) { return {code, std::move(line)}; }
};

// The image query's answer as the viewer's SetSource takes it.
struct LoginAnswer
{
    bool wantsCredentials = false; // the first query, made without any, drew the 401 page
    std::string state;             // "not needed", "accepted", "refused", "not given"
    std::string reply;             // the last reply, for ptctrl and ioctrl
};

class CameraSession
{
public:
    struct Settings
    {
        std::string shown; // the camera's address for messages, without credentials
        Credentials given;
        std::chrono::milliseconds timeout{30000};
        RequestLog* log = nullptr;                     // the trace of this process, if open
        const std::atomic<bool>* stop = nullptr;       // Ctrl+C asked the run to end
        std::function<void()> stopSeen;                // a wait has taken that request
    };

    explicit CameraSession(Settings settings);

    const std::string& Shown() const { return m_settings.shown; }
    std::chrono::milliseconds Timeout() const { return m_settings.timeout; }
    const Credentials& Given() const { return m_settings.given; }
    PosterTimings Poster() const;

    // The credentials requests go out with: none until a login needed them.
    const std::string& User() const { return m_user; }
    const std::string& Password() const { return m_password; }
    void UseCredentials(std::string user, std::string password);

    // The image query as the page's SetSource sends it: without credentials, then once more with
    // the given ones when the camera answers with its 401 page (a second 401 is a refusal).
    ToolOutcome LogIn(const std::string& imageQueryUrl, LoginAnswer& answer);
    // One GET with the session's credentials; a reply with an HTTP status no camera sends fails.
    ToolOutcome Get(const std::string& url, std::string& reply);

    // Requests from here on are the ones the next look-up considers.
    void Mark();
    // What the last request to `url` since the mark came to, from the trace; nothing without a
    // trace.
    std::optional<RequestOutcome> OutcomeOf(const std::string& url);
    // A request that failed: the trace's account, else the poster's error code (0: it gave up).
    ToolOutcome RequestFailed(const std::string& url, int posterError, bool viewer = true);
    // A stream client's result code, read with the trace of its open; 0 (no result) fails only
    // when the trace says why.
    ToolOutcome StreamFailed(const std::string& url, int result, const std::string& message);
    // No credentials were given for a camera that asks, or the given ones were turned down.
    ToolOutcome LoginFailed(const std::string& detail = {}) const;

    // Polled by the tools' waits; the first true tells the supervisor the run is ending.
    bool StopAsked();

private:
    Settings m_settings;
    std::string m_user, m_password;
    std::vector<RequestOutcome> m_outcomes;
    size_t m_mark = 0;
    bool m_stopTold = false;
};

// A file that appears whole or not at all: written under a temporary name beside the target,
// renamed onto it by Commit, removed otherwise (also when the process is forced to end).
class PendingFile
{
public:
    explicit PendingFile(std::string target);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Makes the empty temporary file; false with `why`.
    bool Create(std::string& why);
    const std::string& Temporary() const { return m_temporary; }
    const std::string& Target() const { return m_target; }
    bool Commit(std::string& why);

    // Removes what a run forced to end leaves behind; any thread.
    static void RemoveLeftovers();

private:
    std::string m_target, m_temporary;
};

// The folder a file would go in can take it; false with `why`.
bool CanWriteBeside(const std::string& target, std::string& why);

} // namespace host
