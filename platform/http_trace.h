#pragma once
// A trace of every HTTP request for the program that hosts the controls. When the environment
// names a file descriptor in CAMCTL_HTTP_TRACE_FD, each request writes one line to it as it goes
// out and one when its reply begins or it fails:
//
//   > ID METHOD URL
//   < ID MS status CODE
//   < ID MS error CODE TEXT
//   < ID MS cancelled
//
// ID tells concurrent requests apart, MS is the time since the request went out. URLs lose any
// user name and password; credentials are never written. A line that does not fit the
// descriptor at once is dropped, so a reader that falls behind never blocks a request.

#include <chrono>
#include <string>
#include <string_view>

namespace platform {

inline constexpr const char* kHttpTraceVariable = "CAMCTL_HTTP_TRACE_FD";

// The URL without the user information of its authority.
std::string UrlWithoutCredentials(std::string_view url);

struct HttpTraceEnd
{
    int status = 0;      // when answered
    int error = 0;       // libcurl's code when failed
    std::string errorText;
    bool cancelled = false;
};

// Both do nothing unless the variable names an open descriptor.
void TraceRequestStart(const void* id, std::string_view method, std::string_view url);
void TraceRequestEnd(const void* id, std::chrono::milliseconds elapsed, const HttpTraceEnd& end);

} // namespace platform
