#pragma once
// Bounds a run from outside the window thread, which a control may block for as long as a
// request takes: the time limit and Ctrl+C (SIGINT, SIGTERM) first ask the window to end; when
// it does not get round to it, or its ending does not finish, the process ends from here after
// cleaning up (the demo's private store). A second signal ends it at once.

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace host {

class Supervisor
{
public:
    struct Hooks
    {
        std::function<void()> askToEnd;           // any thread: posts the end to the window
        std::function<int()> exitCode;            // the code a forced end leaves with
        std::function<std::string()> whyBlocked;  // a line saying what holds the window
        std::function<void()> cleanUp;            // what must go even on a forced end
    };
    struct Timings
    {
        std::chrono::milliseconds answerWithin{1000}; // the window's loop takes the request
        std::chrono::milliseconds endWithin{10000};   // and its ending (stopping the stream)
    };

    // Blocks SIGINT and SIGTERM in the calling thread and every thread it starts later; call
    // first thing in main.
    static void BlockStopSignals();

    Supervisor(std::optional<std::chrono::milliseconds> runLimit, Hooks hooks)
        : Supervisor(runLimit, std::move(hooks), Timings())
    {
    }
    Supervisor(std::optional<std::chrono::milliseconds> runLimit, Hooks hooks, Timings timings);
    ~Supervisor(); // joins
    Supervisor(const Supervisor&) = delete;
    Supervisor& operator=(const Supervisor&) = delete;

    // Window thread: its loop has returned; the ending (stop, screenshot, statistics) begins.
    void LoopEnded() { m_loopEnded = true; }
    // 0, or the stop signal that ended the run.
    int Signal() const { return m_signal.load(); }
    // The time limit ended the run.
    bool TimedOut() const { return m_timedOut.load(); }

private:
    void Run(std::chrono::steady_clock::time_point start);
    [[noreturn]] void ForceEnd(const std::string& why, int code);

    std::optional<std::chrono::milliseconds> m_runLimit;
    Hooks m_hooks;
    Timings m_timings;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_loopEnded{false};
    std::atomic<int> m_signal{0};
    std::atomic<bool> m_timedOut{false};
    std::thread m_thread;
};

} // namespace host
