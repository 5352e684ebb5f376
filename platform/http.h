#pragma once
// HTTP client over libcurl: one request whose reply body is read as it arrives.
//
// Open() sends the request and returns once the final reply has begun (status and headers in) or
// the transfer failed; Read() then hands out the body. Both block and both drive the transfer on
// the calling thread, so at most one thread may be inside Open/Read at a time (they may be
// different threads one after the other: an open thread, then a reader thread). Cancel() is the
// one call allowed from any other thread: it wakes a blocked Open or Read, which then fails.
//
// An HTTP error status is not a failure: a 401 or 503 page is read like any other body.
// Credentials go out as Basic or Digest, whichever the server asks for; none when the user name is
// empty. Proxies come from the environment as libcurl reads them. Nothing is cached.
//
// https:// is verified, peer and host name, against the system's certificate authorities and the
// certificates of the file the environment names in CAMCTL_CACERT (a camera's own, self-signed
// one). The variable is the one way in: every module carries its own copy of this layer, and
// the hosting process sets it before the first request, when it is read.
//
// Each stream is one connection, and streams to one server (scheme, host, port) are limited to a
// process-wide number at a time: an Open beyond it waits until another stream to that server is
// done, cancelled or destroyed.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class SettingsStore;

// 0 means no limit. A change holds for Opens still waiting and later ones; open streams stay.
// Until set or loaded, the limit is read from the default settings store at the first Open.
void SetConnectionsPerServer(uint32_t limit);
uint32_t ConnectionsPerServer();

inline constexpr std::string_view kInternetSettingsKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
inline constexpr std::string_view kMaxConnectionsPerServerName = "MaxConnectionsPerServer";
// Sets the limit from the current user's value; no value means no limit.
void LoadConnectionLimit(const SettingsStore& store);

inline constexpr const char* kTrustedCertificatesVariable = "CAMCTL_CACERT";
// True for an ErrorCode() that says the server's certificate was not trusted (unknown issuer,
// self-signed, expired, made out for another name) or the trusted ones could not be loaded: a
// refusal of the server, where other failures are the network's.
bool IsCertificateFailure(int errorCode);

struct HttpRequest
{
    std::string url;
    bool post = false;
    std::string user;                 // empty: no credentials at all, unless emptyUserSends
    std::string password;             // used only with a user name, or with emptyUserSends
    bool emptyUserSends = false;      // an empty user name goes out, with the password
    std::vector<std::string> headers; // extra header lines, without line ends
    std::string body;                 // sent with POST only
    std::string userAgent;            // empty: none
    // A reply that delivers nothing for this long fails; 0 waits as long as the caller does.
    std::chrono::milliseconds idleTimeout{0};
};

class HttpStream
{
public:
    explicit HttpStream(HttpRequest request);
    ~HttpStream(); // must not race with Cancel()
    HttpStream(const HttpStream&) = delete;
    HttpStream& operator=(const HttpStream&) = delete;

    // True when the server answered (whatever the status); false on a transport failure or Cancel.
    // Throws what could not be had (std::bad_alloc) while it drove the transfer.
    bool Open();
    // Up to `n` body bytes, blocking until at least one arrives; 0 at the end of the body, on
    // failure or after Cancel. Throws as Open.
    size_t Read(void* buffer, size_t n);
    void Cancel();

    bool Cancelled() const { return m_cancelled.load(); }
    int Status() const { return m_status; }
    // libcurl's code for the failure that ended the transfer, 0 when none did.
    int ErrorCode() const { return m_error; }
    std::string ErrorText() const;
    // True when the whole body was received.
    bool Complete() const { return m_done && m_error == 0 && !m_cancelled; }

private:
    struct Impl;
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    template <class Ready>
    void Pump(Ready ready);
    bool OpenTransfer();
    void Finish(int error);
    void ResumeIfDrained();
    bool SendsCredentials() const { return !m_request.user.empty() || m_request.emptyUserSends; }

    HttpRequest m_request;
    std::unique_ptr<Impl> m_impl;
    std::atomic<bool> m_cancelled{false};

    // Only touched by the thread inside Open/Read (the callbacks run there too).
    std::vector<uint8_t> m_buffer;
    size_t m_bufferPos = 0;
    bool m_paused = false;
    std::chrono::steady_clock::time_point m_lastProgress{};
    bool m_started = false;
    bool m_replyBegun = false;
    bool m_done = false;
    // What a callback could not do; thrown once libcurl has returned, never through it.
    std::exception_ptr m_callbackError;
    int m_status = 0;
    int m_error = 0;
};

} // namespace platform
