#include "host/supervisor.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace host {

namespace {

sigset_t StopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

void Supervisor::BlockStopSignals()
{
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

Supervisor::Supervisor(std::optional<std::chrono::milliseconds> runLimit, Hooks hooks,
                       Timings timings)
    : m_runLimit(runLimit), m_hooks(std::move(hooks)), m_timings(timings)
{
    const auto start = std::chrono::steady_clock::now();
    m_thread = std::thread([this, start] { Run(start); });
}

Supervisor::~Supervisor()
{
    m_stop = true;
    m_thread.join();
}

void Supervisor::ForceEnd(const std::string& why, int code)
{
    std::fprintf(stderr, "camhost: %s; ending now\n", why.c_str());
    if (m_hooks.cleanUp)
        m_hooks.cleanUp();
    std::fflush(nullptr);
    ::_exit(code);
}

void Supervisor::Run(std::chrono::steady_clock::time_point start)
{
    using Clock = std::chrono::steady_clock;
    const sigset_t set = StopSignals();
    std::optional<Clock::time_point> askedAt, endingSince;
    try {
        while (!m_stop) {
            const timespec slice{0, 100 * 1000 * 1000};
            const int sig = sigtimedwait(&set, nullptr, &slice);
            const auto now = Clock::now();
            if (sig > 0) {
                if (m_signal.exchange(sig) != 0)
                    ForceEnd("stopped again", 128 + sig);
                askedAt = now;
                m_hooks.askToEnd();
            } else if (!askedAt && m_runLimit && now - start >= *m_runLimit) {
                m_timedOut = true;
                askedAt = now;
                m_hooks.askToEnd();
            }
            if (!askedAt)
                continue;
            const int code = m_signal ? 128 + m_signal.load() : m_hooks.exitCode();
            if (!m_loopEnded && now - *askedAt > m_timings.answerWithin)
                ForceEnd(m_hooks.whyBlocked(), code);
            if (m_loopEnded && !endingSince)
                endingSince = now;
            if (endingSince && now - *endingSince > m_timings.endWithin)
                ForceEnd("the control is still stopping", code);
        }
    } catch (...) {
        // Without a supervisor the run is still bounded by the window's own timer.
    }
}

} // namespace host
