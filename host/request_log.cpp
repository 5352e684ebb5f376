#include "host/request_log.h"

#include "platform/http_trace.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace host {

RequestLog::~RequestLog()
{
    if (m_reader.joinable()) {
        const char wake = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &wake, 1);
        m_reader.join();
    }
    for (int fd : {m_readFd, m_wake[0], m_wake[1]})
        if (fd >= 0)
            ::close(fd);
}

bool RequestLog::Open()
{
    int trace[2];
    if (::pipe2(trace, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(m_wake, O_CLOEXEC) != 0) {
        ::close(trace[0]);
        ::close(trace[1]);
        return false;
    }
    m_readFd = trace[0];
    m_writeFd = trace[1];
    // Writers drop a line rather than block when the reader falls behind.
    ::fcntl(m_writeFd, F_SETFL, ::fcntl(m_writeFd, F_GETFL) | O_NONBLOCK);
    ::setenv(platform::kHttpTraceVariable, std::to_string(m_writeFd).c_str(), 1);
    m_reader = std::thread([this] { Run(); });
    return true;
}

void RequestLog::Run()
{
    try {
        std::string partial;
        char buffer[4096];
        for (;;) {
            pollfd fds[2] = {{m_readFd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0)
                continue;
            if (fds[1].revents)
                return;
            const ssize_t n = ::read(m_readFd, buffer, sizeof buffer);
            if (n <= 0)
                return;
            partial.append(buffer, size_t(n));
            for (size_t end; (end = partial.find('\n')) != std::string::npos;) {
                Consume(partial.substr(0, end));
                partial.erase(0, end + 1);
            }
        }
    } catch (...) {
        // A log that stops is better than a host that ends.
    }
}

void RequestLog::Consume(const std::string& line)
{
    std::istringstream in(line);
    std::string mark, id;
    in >> mark >> id;
    std::string echo;
    if (mark == ">") {
        Pending p;
        in >> p.method >> p.url;
        p.since = std::chrono::steady_clock::now();
        echo = p.method + " " + p.url;
        std::lock_guard lock(m_lock);
        m_pending[id] = std::move(p);
    } else if (mark == "<") {
        RequestOutcome r;
        std::string kind;
        in >> r.ms >> kind;
        if (kind == "status") {
            in >> r.status;
        } else if (kind == "cancelled") {
            r.cancelled = true;
        } else {
            in >> r.error;
            std::getline(in >> std::ws, r.errorText);
        }
        {
            std::lock_guard lock(m_lock);
            const auto found = m_pending.find(id);
            if (found == m_pending.end())
                return;
            r.method = found->second.method;
            r.url = found->second.url;
            m_pending.erase(found);
            m_done.push_back(r);
        }
        echo = r.method + " " + r.url + ": ";
        if (r.status)
            echo += "HTTP " + std::to_string(r.status);
        else if (r.cancelled)
            echo += "no reply, given up";
        else
            echo += r.errorText + " (error " + std::to_string(r.error) + ")";
        echo += " after " + std::to_string(r.ms) + " ms";
    } else {
        return;
    }
    if (m_echo)
        m_echo(echo);
}

std::vector<RequestOutcome> RequestLog::Take()
{
    std::lock_guard lock(m_lock);
    std::vector<RequestOutcome> out;
    out.swap(m_done);
    return out;
}

std::optional<std::pair<std::string, std::chrono::milliseconds>> RequestLog::OldestPending() const
{
    std::lock_guard lock(m_lock);
    std::optional<std::pair<std::string, std::chrono::milliseconds>> oldest;
    const auto now = std::chrono::steady_clock::now();
    for (const auto& [id, p] : m_pending) {
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(now - p.since);
        if (!oldest || waited > oldest->second)
            oldest = std::pair{p.url, waited};
    }
    return oldest;
}

} // namespace host
