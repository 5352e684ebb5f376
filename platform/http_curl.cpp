#include "platform/http.h"

#include <curl/curl.h>

#include <cstring>
#include <mutex>

namespace platform {

namespace {

// Beyond this much unread body the transfer pauses until the reader catches up.
constexpr size_t kPauseAbove = 256 * 1024;
// Upper bound of one wait inside the transfer; Cancel wakes it earlier.
constexpr int kPollMs = 50;

void GlobalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool StartsWithNoCase(const char* s, size_t n, const char* prefix)
{
    size_t len = std::strlen(prefix);
    return n >= len && strncasecmp(s, prefix, len) == 0;
}

} // namespace

struct HttpStream::Impl
{
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    curl_slist* headers = nullptr;
    char errorText[CURL_ERROR_SIZE] = {};

    ~Impl()
    {
        if (multi && easy)
            curl_multi_remove_handle(multi, easy);
        if (easy)
            curl_easy_cleanup(easy);
        if (multi)
            curl_multi_cleanup(multi);
        curl_slist_free_all(headers);
    }
};

HttpStream::HttpStream(HttpRequest request)
    : m_request(std::move(request)), m_impl(std::make_unique<Impl>())
{
    GlobalInit();
    m_impl->multi = curl_multi_init();
    m_impl->easy = curl_easy_init();
}

HttpStream::~HttpStream() = default;

std::string HttpStream::ErrorText() const
{
    if (m_impl->errorText[0])
        return m_impl->errorText;
    return m_error ? curl_easy_strerror(static_cast<CURLcode>(m_error)) : "";
}

size_t HttpStream::OnHeader(char* data, size_t size, size_t count, void* self)
{
    auto* s = static_cast<HttpStream*>(self);
    size_t n = size * count;
    s->m_lastProgress = std::chrono::steady_clock::now();
    if (StartsWithNoCase(data, n, "HTTP/")) {
        s->m_status = 0;
        return n;
    }
    // The blank line ends a header block. A 1xx block is followed by another; a 401 while we hold
    // credentials may be answered by libcurl with an authenticated retry, whose reply we wait for
    // (its body is the one delivered).
    if (n <= 2 && (n == 0 || data[0] == '\r' || data[0] == '\n')) {
        long code = 0;
        curl_easy_getinfo(s->m_impl->easy, CURLINFO_RESPONSE_CODE, &code);
        s->m_status = static_cast<int>(code);
        bool mayRetry = code == 401 && !s->m_request.user.empty();
        if (code >= 200 && !mayRetry)
            s->m_replyBegun = true;
    }
    return n;
}

size_t HttpStream::OnBody(char* data, size_t size, size_t count, void* self)
{
    auto* s = static_cast<HttpStream*>(self);
    size_t n = size * count;
    if (s->m_cancelled.load())
        return CURL_WRITEFUNC_ERROR;
    if (s->m_buffer.size() - s->m_bufferPos > kPauseAbove) {
        s->m_paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (s->m_bufferPos > 0 && s->m_bufferPos == s->m_buffer.size()) {
        s->m_buffer.clear();
        s->m_bufferPos = 0;
    }
    s->m_buffer.insert(s->m_buffer.end(), data, data + n);
    s->m_replyBegun = true;
    s->m_lastProgress = std::chrono::steady_clock::now();
    return n;
}

template <class Ready>
void HttpStream::Pump(Ready ready)
{
    while (!ready() && !m_done) {
        if (m_cancelled.load())
            return;
        int running = 0;
        CURLMcode mc = curl_multi_perform(m_impl->multi, &running);
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(m_impl->multi, &queued)) {
            if (msg->msg == CURLMSG_DONE) {
                m_done = true;
                m_error = msg->data.result;
            }
        }
        if (mc != CURLM_OK && !m_done) {
            m_done = true;
            m_error = CURLE_FAILED_INIT;
        }
        if (ready() || m_done)
            return;
        // libcurl's own low-speed check works in whole seconds and only roughly; this one is
        // exact to the poll interval.
        if (m_request.idleTimeout.count() > 0 &&
            std::chrono::steady_clock::now() - m_lastProgress > m_request.idleTimeout) {
            m_done = true;
            m_error = CURLE_OPERATION_TIMEDOUT;
            return;
        }
        curl_multi_poll(m_impl->multi, nullptr, 0, kPollMs, nullptr);
    }
}

bool HttpStream::Open()
{
    if (m_started)
        return m_replyBegun;
    m_started = true;
    Impl& im = *m_impl;
    if (!im.easy || !im.multi) {
        m_done = true;
        m_error = CURLE_FAILED_INIT;
        return false;
    }
    CURL* e = im.easy;
    curl_easy_setopt(e, CURLOPT_URL, m_request.url.c_str());
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, im.errorText);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &HttpStream::OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &HttpStream::OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    if (!m_request.userAgent.empty())
        curl_easy_setopt(e, CURLOPT_USERAGENT, m_request.userAgent.c_str());
    if (!m_request.user.empty()) {
        curl_easy_setopt(e, CURLOPT_HTTPAUTH, CURLAUTH_BASIC | CURLAUTH_DIGEST);
        curl_easy_setopt(e, CURLOPT_USERNAME, m_request.user.c_str());
        curl_easy_setopt(e, CURLOPT_PASSWORD, m_request.password.c_str());
    }
    // The camera's CGIs do not speak 100-continue; never wait for it.
    im.headers = curl_slist_append(im.headers, "Expect:");
    for (const std::string& h : m_request.headers)
        im.headers = curl_slist_append(im.headers, h.c_str());
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, im.headers);
    if (m_request.post) {
        curl_easy_setopt(e, CURLOPT_POST, 1L);
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(m_request.body.size()));
        curl_easy_setopt(e, CURLOPT_POSTFIELDS, m_request.body.data());
    }
    curl_multi_add_handle(im.multi, e);

    m_lastProgress = std::chrono::steady_clock::now();
    Pump([this] { return m_replyBegun; });
    if (m_cancelled.load())
        return false;
    if (m_replyBegun)
        return true;
    // Finished before any body: an answered request with an empty body still counts.
    return m_done && m_error == 0 && m_status != 0;
}

void HttpStream::ResumeIfDrained()
{
    if (m_paused && m_bufferPos == m_buffer.size()) {
        m_buffer.clear();
        m_bufferPos = 0;
        m_paused = false;
        m_lastProgress = std::chrono::steady_clock::now();
        curl_easy_pause(m_impl->easy, CURLPAUSE_CONT);
    }
}

size_t HttpStream::Read(void* buffer, size_t n)
{
    if (!m_started || n == 0)
        return 0;
    ResumeIfDrained();
    Pump([this] { return m_bufferPos < m_buffer.size(); });
    if (m_cancelled.load())
        return 0;
    size_t avail = m_buffer.size() - m_bufferPos;
    size_t take = avail < n ? avail : n;
    if (take) {
        std::memcpy(buffer, m_buffer.data() + m_bufferPos, take);
        m_bufferPos += take;
    }
    ResumeIfDrained();
    return take;
}

void HttpStream::Cancel()
{
    m_cancelled.store(true);
    if (m_impl->multi)
        curl_multi_wakeup(m_impl->multi);
}

} // namespace platform
