#pragma once
// One HTTP command to the camera (GET or POST) with credentials; returns the whole reply body as
// text. A poster serves one request: create one per command and let it go afterwards.
//
// HTTP error statuses are not failures: the camera's 401/403/503 pages come back as reply text for
// the caller to look at. Used on the control's window thread only. The transfer runs on a thread
// of its own; the caller waits for it through its waiter, and a waiter that gives up cancels the
// request (which then fails) and joins the thread before Request returns.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class HttpStream;
class Waiter;
} // namespace platform

// The two modules differ only in how large a reply they read at a time, and so how large a reply
// they take: a camera's replies are a few kilobytes of text, and one that runs on past the cap
// (64 of the viewer's growth steps, 4 of the zone module's) is a failure, not a memory sink.
struct PosterProfile
{
    size_t initialBuffer; // zero bytes the reply buffer starts with
    size_t blockSize;     // most bytes read per block
    size_t growStep;      // after each block the buffer holds the bytes received plus this
    size_t maxReply;      // longest reply taken
};
inline constexpr PosterProfile kViewerPosterProfile{8193, 8191, 8192, 64 * 8192};
inline constexpr PosterProfile kZonePosterProfile{256001, 255999, 256000, 4 * 256000};

struct PosterTimings
{
    // A GET whose send has not finished within settle + sendWait is cancelled. The same sendWait
    // bounds a stall while reading the reply.
    std::chrono::milliseconds settle{300};
    std::chrono::milliseconds sendWait{30000};
};

class CHttpPoster
{
public:
    static constexpr const char* kAgentName = "Vandrel HTTP Poster 1.0";
    static constexpr const char* kFormContentType =
        "Content-Type: application/x-www-form-urlencoded";

    // `waiter` (by default one that blocks) must outlive the poster.
    explicit CHttpPoster(const PosterProfile& profile = kViewerPosterProfile,
                         const PosterTimings& timings = {}, platform::Waiter* waiter = nullptr);
    ~CHttpPoster();
    CHttpPoster(const CHttpPoster&) = delete;
    CHttpPoster& operator=(const CHttpPoster&) = delete;

    // True when the request was made and its reply read; the reply ends at its first zero byte.
    // A reply longer than the profile's cap is a failure; `reply` is then left as it was. Once
    // the waiter has given up nothing is sent, and false comes back at once.
    // `body` and `bodyLength` are used for POST only; a length of -1 means the text's length.
    bool Request(std::string& reply, std::string_view url, bool post, const std::string& user,
                 const std::string& password, const char* body = nullptr, int bodyLength = -1);

    // -1 after a call without URL; the transport's error code after a failed send; else 0.
    int GetLastError() const { return m_lastError; }

private:
    // Sends the request and reads the reply on a thread of its own; a send still going after
    // `sendLimit` is cancelled.
    bool Transfer(std::string& reply, std::chrono::milliseconds sendLimit);
    bool ReadReply();

    PosterProfile m_profile;
    PosterTimings m_timings;
    platform::Waiter* m_waiter;
    std::unique_ptr<platform::HttpStream> m_request; // the current request, until Request ends
    std::vector<char>
        m_reply; // received bytes, zero-terminated; the transfer thread's until joined
    size_t m_received = 0;
    int m_lastError = 0;
};
