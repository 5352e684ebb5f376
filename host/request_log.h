#pragma once
// The controls' HTTP requests as they happen, read from the trace the HTTP layer writes when
// the environment names a descriptor (platform/http_trace.h). A reader thread parses the lines
// so that the log stays current while a control blocks the window thread in a request.

#include "host/control_status.h"

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace host {

class RequestLog
{
public:
    RequestLog() = default;
    // Stops and joins the reader. The write end stays open until the process ends: a module's
    // thread may still write to that descriptor number.
    ~RequestLog();
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;

    // Called on the reader thread with one line per request and per reply; set before Open.
    void SetEcho(std::function<void(const std::string&)> echo) { m_echo = std::move(echo); }
    // Makes the pipe, names its write end in the environment and starts the reader. Before any
    // module makes a request.
    bool Open();

    // Finished requests since the last call, oldest first.
    std::vector<RequestOutcome> Take();
    // The request that has waited longest for its reply and for how long.
    std::optional<std::pair<std::string, std::chrono::milliseconds>> OldestPending() const;

    // One trace line; public for tests.
    void Consume(const std::string& line);

private:
    struct Pending
    {
        std::string method, url;
        std::chrono::steady_clock::time_point since;
    };
    void Run();

    std::function<void(const std::string&)> m_echo;
    int m_readFd = -1, m_writeFd = -1;
    int m_wake[2] = {-1, -1};
    std::thread m_reader;

    mutable std::mutex m_lock; // guards the two below
    std::map<std::string, Pending> m_pending;
    std::vector<RequestOutcome> m_done;
};

} // namespace host
