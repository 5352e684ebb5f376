#pragma once
// What a hosted control is doing, told from its statistics, the requests it made and how its
// login went: the status line, the failure a run ends with, and whether to reload by itself.
// No Qt: the window feeds it and shows its text.

#include "host/readouts.h"

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace host {

enum class Failure {
    None,
    NothingListening,
    NoAnswer,
    Refused,
    LoginRefused,
    LoginCancelled,
    Busy,
    NotACamera,
    Untrusted, // https: the certificate failed verification
};

int ExitCodeOf(Failure failure);
// Connection failures: a reload may find the camera back. The others wait for the user.
bool Retries(Failure failure);
// The line camhost prints on stderr, naming the address (no credentials).
std::string FailureLine(Failure failure, const std::string& address, const std::string& detail);

// The counters a control's Statistics() reports, as far as the host needs them.
struct ControlCounters
{
    bool valid = false;
    uint64_t pictures = 0; // viewer "painted", zones "decoded"
    uint64_t resultCount = 0;
    int lastResult = 0;
    bool connected = false; // viewer
    bool live = false;      // zones: the live flag
    bool streaming = false; // zones: the stream worker runs
    int messageId = 0;      // zones: the string shown in the message line, 0 for none
    std::string sound;      // viewer: the sound output, once one is open
    bool playAudio = false; // viewer: the audio player's play flag
    ReadoutCounters drift, latency; // viewer
    std::optional<std::array<int, 4>> picture; // viewer: where it draws (x, y, width, height)
};
ControlCounters ReadCounters(bool viewer, std::string_view json);

// One finished request of the control, from the HTTP trace.
struct RequestOutcome
{
    std::string method, url;
    int status = 0; // when answered
    int error = 0;  // libcurl's code when it failed
    std::string errorText;
    bool cancelled = false;
    long ms = 0;
};

// What one finished request says of the camera: a transport failure (nothing listening, no
// answer, refused, a certificate not trusted), a refusal the viewer has no page for (403), or a status no camera answers
// with (not a camera); None for a reply a camera gives. `detail` says why.
Failure FailureOfRequest(const RequestOutcome& request, bool viewer, std::string& detail);

enum class LoginState {
    None,
    Asked,     // a prompt is open
    Answered,  // the last prompt ended with OK
    Refused,   // the camera turned the typed credentials down
    Cancelled, // the last prompt was cancelled
};

enum class Phase {
    Connecting,
    LoggingIn,
    Playing,
    Silent,       // pictures came, then stopped while the connection stays
    Reconnecting, // the viewer restarts its stream after a result code
    VideoEnded,   // the zone control's live video ended
    Failed,
    Stopped,
};

struct Status
{
    Phase phase = Phase::Connecting;
    Failure failure = Failure::None;
    double fps = 0;
    int code = 0;        // Reconnecting, VideoEnded: the result code
    long silentMs = 0;   // Silent
    std::string detail;  // what the last failed request said, or why it is not a camera
    bool connected = false;

    bool operator==(const Status&) const = default;
};

// The exit code a run that ended in this state would leave with.
int ExitCodeFor(const Status& status);

// "read failure" for 400, and so on.
std::string ResultMeaning(int code);

// `retryIn` is the seconds left before a reload, or nothing when none is due.
std::string StatusText(const Status& status, const std::string& address,
                       std::optional<int> retryIn);

class StatusTracker
{
public:
    explicit StatusTracker(bool viewer, long silentAfterMs = 3000);

    // A new control replaced the old one: its own counters start from here. What a server
    // answered across controls (not a camera) is kept.
    void NewControl();
    void OnRequest(const RequestOutcome& request);
    // `scripted`: the control's start-up calls have returned.
    Status Update(int64_t nowMs, const ControlCounters& counters, LoginState login,
                  bool scripted);

private:
    Status Classify(int64_t nowMs, const ControlCounters& c, LoginState login, bool scripted);
    Status Pictures(int64_t nowMs, Status s) const;
    Failure TransportFailure(std::string& detail) const;

    bool m_viewer;
    long m_silentAfterMs;

    // This control's counters.
    bool m_haveBase = false;
    uint64_t m_basePictures = 0, m_baseResults = 0;
    uint64_t m_pictures = 0, m_results = 0;
    int64_t m_lastPictureAt = -1, m_lastResultAt = -1;
    std::deque<std::pair<int64_t, uint64_t>> m_history;
    bool m_endCounted = false;
    int64_t m_scriptedAt = -1;

    // What the requests said.
    std::optional<RequestOutcome> m_last;
    std::string m_notCamera;  // why, once a reply showed it
    std::string m_refused;    // an HTTP refusal the viewer would not recognise
    int m_lastStreamStatus = 0;
    int m_strikes = 0;        // connections that ended before any picture on a 200 reply
};

} // namespace host
