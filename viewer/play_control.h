#pragma once
// The viewer's play life cycle without widgets: which client plays, handing the camera's URLs to
// the clients, a stop that waits for the stopped workers, and what a worker's result asks for.
// The panel drives it from the UI thread; the workers post their messages through it.
//
// Every play run has a number. A stop ends the run, and a result that reaches the panel from an
// ended run asks for nothing: once StopPlay has returned, its workers cannot restart the stream.

#include "platform/messages.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class Waiter;
}

class CAsfPlayer;
class CMJpegPlayer;
class CPanelClock;
class CStreamWorker;

struct PlayTimings
{
    std::chrono::milliseconds stopPlaySleep{1000};
    uint32_t stopTimeoutMs = 70000;
};

// The panel's workers; the clients start and stop the painters and the audio player themselves.
struct PlayWorkers
{
    CAsfPlayer& asf;
    CMJpegPlayer& mjpeg;
    CStreamWorker& mpegPainter;
    CStreamWorker& mjpegPainter;
    CStreamWorker& audio;
    CPanelClock& clock;
};

// What StartPlay gives the client of the frame type.
struct PlayRequest
{
    bool mpeg = false;
    std::string url, user, password;
    bool record = false; // the ASF client's only
    std::string recordFileName;
};

enum class ResultAction
{
    Ignore,
    Busy,    // stop, hide the panel's controls and show the busy message
    Restart, // stop and start again, without recording
};

class CPlayControl final : public platform::MessageTarget
{
public:
    static constexpr size_t kResultHistory = 64;

    CPlayControl(platform::MessageTarget& window, const PlayTimings& timings);
    CPlayControl(const CPlayControl&) = delete;
    CPlayControl& operator=(const CPlayControl&) = delete;

    // Once, before anything below; the workers must post to this object.
    void Attach(const PlayWorkers& workers);

    // Any thread: forwards to the window, a result with the number of the run it ends.
    void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    // The rest on the UI thread.

    void AcceptResults() { m_accepted = true; }
    bool Accepting() const { return m_accepted; }
    // The camera's stream URLs and credentials, for the clients that are idle; a running client
    // reads its own, and gets the new ones when it is next started.
    void HandOver(const std::string& asfUrl, const std::string& mjpegUrl, const std::string& user,
                  const std::string& password);
    // Starts the client of the request's type; false, with nothing done, while any client runs.
    bool Start(const PlayRequest& request);
    // Stops every running client, waits for what the stopped workers post, and ends the run.
    // The waits go through `waiter`; one that gives up cuts only the pause before the stop.
    void Stop(platform::Waiter& waiter);
    void Stop();
    bool Running() const;
    // What a delivered WM_PLAYER_RESULT asks for; `run` is the message's lParam.
    ResultAction OnResult(int code, intptr_t run);

    const std::string& RecordFileName() const { return m_recordFileName; }
    // The latest results, oldest first.
    std::vector<int> Results() const { return {m_results.begin(), m_results.end()}; }

private:
    platform::MessageTarget& m_window;
    const PlayTimings m_timings;
    std::optional<PlayWorkers> m_workers;
    std::atomic<uint32_t> m_run{0}; // written by Stop, read by the workers' Post
    bool m_accepted = false;
    std::string m_recordFileName;
    std::deque<int> m_results; // at most kResultHistory
};
