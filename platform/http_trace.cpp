#include "platform/http_trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

// Lines up to the pipe's atomic size reach a reader whole, never mixed with another thread's.
constexpr size_t kMaxLine = 1024;

int TraceFd()
{
    static const int fd = [] {
        const char* text = std::getenv(kHttpTraceVariable);
        if (!text || !*text)
            return -1;
        char* end = nullptr;
        const long v = std::strtol(text, &end, 10);
        if (*end != '\0' || v < 0 || v > 65535 || ::fcntl(int(v), F_GETFD) < 0)
            return -1;
        return int(v);
    }();
    return fd;
}

void WriteLine(std::string line)
{
    for (char& c : line)
        if (c == '\n' || c == '\r')
            c = ' ';
    if (line.size() > kMaxLine - 1)
        line.resize(kMaxLine - 1);
    line += '\n';
    // Best effort: a full pipe drops the line rather than stall the request.
    [[maybe_unused]] const ssize_t n = ::write(TraceFd(), line.data(), line.size());
}

std::string Id(const void* id)
{
    char text[32];
    std::snprintf(text, sizeof text, "%p", id);
    return text;
}

} // namespace

std::string UrlWithoutCredentials(std::string_view url)
{
    const size_t scheme = url.find("://");
    const size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
    const size_t end = url.find_first_of("/?#", start);
    const std::string_view authority =
        url.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    const size_t at = authority.rfind('@');
    if (at == std::string_view::npos)
        return std::string(url);
    return std::string(url.substr(0, start)) + std::string(url.substr(start + at + 1));
}

void TraceRequestStart(const void* id, std::string_view method, std::string_view url)
{
    if (TraceFd() < 0)
        return;
    std::string shown = UrlWithoutCredentials(url);
    for (char& c : shown)
        if (c == ' ')
            c = '+';
    WriteLine("> " + Id(id) + " " + std::string(method) + " " + shown);
}

void TraceRequestEnd(const void* id, std::chrono::milliseconds elapsed, const HttpTraceEnd& end)
{
    if (TraceFd() < 0)
        return;
    std::string line = "< " + Id(id) + " " + std::to_string(elapsed.count()) + " ";
    if (end.cancelled)
        line += "cancelled";
    else if (end.status != 0)
        line += "status " + std::to_string(end.status);
    else
        line += "error " + std::to_string(end.error) + " " + end.errorText;
    WriteLine(line);
}

} // namespace platform
