#include "stream/http_poster.h"

#include "platform/event.h"
#include "platform/http.h"

#include <atomic>
#include <cstring>
#include <thread>

namespace {

// The camera reads an empty password as "no password given"; it expects this stand-in.
std::string PosterPassword(const std::string& password)
{
    return password.empty() ? std::string("~") : password;
}

} // namespace

CHttpPoster::CHttpPoster(const PosterProfile& profile, const PosterTimings& timings)
    : m_profile(profile), m_timings(timings)
{
}

CHttpPoster::~CHttpPoster() = default;

bool CHttpPoster::Request(std::string& reply, std::string_view url, bool post,
                          const std::string& user, const std::string& password, const char* body,
                          int bodyLength)
{
    if (url.empty()) {
        m_lastError = -1;
        return false;
    }
    bool sent = post ? Post(url, body, bodyLength, user, password) : Get(url, user, password);
    if (!sent) {
        m_request.reset();
        return false;
    }
    const bool read = ReadReply(reply);
    m_request.reset();
    return read;
}

bool CHttpPoster::Get(std::string_view url, const std::string& user, const std::string& password)
{
    m_request.reset();
    platform::HttpRequest req;
    req.url = std::string(url);
    req.user = user;
    req.password = PosterPassword(password);
    req.emptyUserSends = true;
    req.userAgent = kAgentName;
    req.idleTimeout = m_timings.sendWait;
    m_request = std::make_unique<platform::HttpStream>(std::move(req));

    // The send runs on a thread of its own so that a camera that never answers costs the window
    // thread a bounded wait. On time-out the send is cancelled and the thread joined: it wakes
    // within a fraction of a second.
    platform::AutoResetEvent sendDone;
    std::atomic<bool> answered{false};
    platform::HttpStream* stream = m_request.get();
    std::thread sender([&] {
        answered.store(stream->Open());
        sendDone.Set();
    });
    bool finished =
        sendDone.Wait(m_timings.settle + m_timings.sendWait) == platform::WaitResult::Signalled;
    if (!finished)
        stream->Cancel();
    sender.join();
    if (!finished)
        return false;
    // A send that could not reach the camera is a failure, not an empty reply.
    if (!answered.load()) {
        m_lastError = stream->ErrorCode();
        return false;
    }
    return true;
}

bool CHttpPoster::Post(std::string_view url, const char* body, int bodyLength,
                       const std::string& user, const std::string& password)
{
    if (!body)
        body = "";
    size_t length = bodyLength == -1 ? std::strlen(body) : static_cast<size_t>(bodyLength);
    if (bodyLength < -1)
        length = 0;

    m_request.reset();
    platform::HttpRequest req;
    req.url = std::string(url);
    req.post = true;
    req.user = user;
    req.password = PosterPassword(password);
    req.emptyUserSends = true;
    req.userAgent = kAgentName;
    req.headers.push_back(kFormContentType);
    req.body.assign(body, length);
    req.idleTimeout = m_timings.sendWait;
    m_request = std::make_unique<platform::HttpStream>(std::move(req));
    if (!m_request->Open()) {
        m_lastError = m_request->ErrorCode();
        return false;
    }
    return true;
}

bool CHttpPoster::ReadReply(std::string& reply)
{
    m_reply.assign(m_profile.initialBuffer, 0);
    std::vector<char> block(m_profile.blockSize);
    size_t received = 0;
    for (;;) {
        size_t n = m_request->Read(block.data(), block.size());
        if (n == 0)
            break;
        if (n > m_profile.maxReply - received)
            return false;
        if (m_reply.size() < received + n + 1)
            m_reply.resize(received + n + 1, 0);
        std::memcpy(m_reply.data() + received, block.data(), n);
        received += n;
        m_reply.resize(received + m_profile.growStep, 0);
    }
    // The reply is text: it ends at its first zero byte.
    reply.assign(m_reply.data(), ::strnlen(m_reply.data(), received));
    return true;
}
