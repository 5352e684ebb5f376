#include "stream/http_poster.h"

#include "platform/http.h"
#include "platform/wait.h"

#include <atomic>
#include <cstring>
#include <exception>
#include <thread>

namespace {

// The camera reads an empty password as "no password given"; it expects this stand-in.
std::string PosterPassword(const std::string& password)
{
    return password.empty() ? std::string("~") : password;
}

} // namespace

CHttpPoster::CHttpPoster(const PosterProfile& profile, const PosterTimings& timings,
                         platform::Waiter* waiter)
    : m_profile(profile), m_timings(timings),
      m_waiter(waiter ? waiter : &platform::BlockingWaiter())
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
    if (m_waiter->Cancelled())
        return false;

    platform::HttpRequest req;
    req.url = std::string(url);
    req.post = post;
    req.user = user;
    req.password = PosterPassword(password);
    req.emptyUserSends = true;
    req.userAgent = kAgentName;
    req.idleTimeout = m_timings.sendWait;
    if (post) {
        if (!body)
            body = "";
        size_t length = bodyLength == -1 ? std::strlen(body) : static_cast<size_t>(bodyLength);
        if (bodyLength < -1)
            length = 0;
        req.headers.push_back(kFormContentType);
        req.body.assign(body, length);
    }
    m_request = std::make_unique<platform::HttpStream>(std::move(req));
    // A GET's send that has not finished within the settle time and the send wait is given up;
    // a POST's send has no limit of its own beyond the idle time-out.
    const bool done =
        Transfer(reply, post ? platform::Waiter::kForever : m_timings.settle + m_timings.sendWait);
    m_request.reset();
    return done;
}

bool CHttpPoster::Transfer(std::string& reply, std::chrono::milliseconds sendLimit)
{
    platform::HttpStream* stream = m_request.get();
    enum : int
    {
        kSending,
        kReading,
        kDone
    };
    std::atomic<int> phase{kSending};
    // Written by the transfer thread, read once it has been joined.
    bool answered = false;
    bool whole = false;
    std::exception_ptr failure;
    std::thread transfer([&] {
        try {
            answered = stream->Open();
            phase = kReading;
            if (answered)
                whole = ReadReply();
        } catch (...) {
            failure = std::current_exception();
        }
        phase = kDone;
    });
    // Cancel wakes the transfer within a fraction of a second, so the join is short.
    const bool sent = m_waiter->WaitUntil([&] { return phase.load() != kSending; }, sendLimit);
    const bool finished = sent && m_waiter->WaitUntil([&] { return phase.load() == kDone; },
                                                      platform::Waiter::kForever);
    if (!finished)
        stream->Cancel();
    transfer.join();
    if (failure)
        std::rethrow_exception(failure);
    if (!finished || stream->Cancelled())
        return false;
    // A send that could not reach the camera is a failure, not an empty reply.
    if (!answered) {
        m_lastError = stream->ErrorCode();
        return false;
    }
    if (!whole)
        return false;
    // The reply is text: it ends at its first zero byte.
    reply.assign(m_reply.data(), ::strnlen(m_reply.data(), m_received));
    return true;
}

bool CHttpPoster::ReadReply()
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
    m_received = received;
    return true;
}
