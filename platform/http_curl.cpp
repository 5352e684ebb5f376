#include "platform/http.h"

#include "platform/http_trace.h"
#include "platform/settings.h"

#include <curl/curl.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
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

uint32_t StoredLimit(const SettingsStore& store)
{
    return store
        .GetDword(SettingsRoot::CurrentUser, kInternetSettingsKey, kMaxConnectionsPerServerName)
        .value_or(0);
}

// "scheme://host:port" as libcurl will connect, or "" when the URL does not parse.
std::string ServerOf(const std::string& url)
{
    struct Freer
    {
        void operator()(char* p) const { curl_free(p); }
        void operator()(CURLU* u) const { curl_url_cleanup(u); }
    };
    std::unique_ptr<CURLU, Freer> u(curl_url());
    char* parts[3] = {};
    std::string server;
    // libcurl guesses a missing scheme for CURLOPT_URL as well.
    if (u && curl_url_set(u.get(), CURLUPART_URL, url.c_str(), CURLU_GUESS_SCHEME) == CURLUE_OK) {
        curl_url_get(u.get(), CURLUPART_SCHEME, &parts[0], 0);
        curl_url_get(u.get(), CURLUPART_HOST, &parts[1], 0);
        curl_url_get(u.get(), CURLUPART_PORT, &parts[2], CURLU_DEFAULT_PORT);
    }
    // Owned from here, so that nothing leaks when the text below cannot be had.
    std::unique_ptr<char, Freer> scheme(parts[0]), host(parts[1]), port(parts[2]);
    if (scheme && host && port) {
        server = std::string(scheme.get()) + "://" + host.get() + ":" + port.get();
        for (char& c : server)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
    }
    return server;
}

// What a verified connection trusts when CAMCTL_CACERT names a file: the system's bundle
// followed by that file's certificates. A bundle in memory replaces libcurl's file but keeps its
// folder, so the system's authorities stay trusted whichever way this libcurl reads them.
struct TrustedCertificates
{
    bool extra = false;  // the variable names a file
    std::string pem;     // what the connections are given
    std::string problem; // why the file cannot be used; every https request then fails
};

bool ReadWhole(const char* path, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Built once per process (the easy handle only tells libcurl's default bundle).
const TrustedCertificates& Trusted(CURL* easy)
{
    static const TrustedCertificates trusted = [easy] {
        TrustedCertificates t;
        const char* file = std::getenv(kTrustedCertificatesVariable);
        if (!file || !*file)
            return t;
        t.extra = true;
        std::string own;
        if (!ReadWhole(file, own)) {
            t.problem = std::string("cannot read the trusted certificates in ") + file;
            return t;
        }
        if (own.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
            t.problem = std::string("no certificate in ") + file;
            return t;
        }
        char* system = nullptr;
        if (curl_easy_getinfo(easy, CURLINFO_CAINFO, &system) == CURLE_OK && system &&
            ReadWhole(system, t.pem) && !t.pem.empty() && t.pem.back() != '\n')
            t.pem += '\n';
        t.pem += own;
        return t;
    }();
    return trusted;
}

// The process-wide count of streams holding a connection slot, per server.
class ConnectionSlots
{
public:
    // What one stream holds; guarded by the table's lock, since Cancel runs on any thread.
    struct Slot
    {
        std::string server;
        bool held = false;
    };

    static ConnectionSlots& Get()
    {
        static ConnectionSlots slots;
        return slots;
    }

    void SetLimit(uint32_t limit)
    {
        {
            std::lock_guard g(m_lock);
            m_limit = limit;
            m_limitKnown = true;
        }
        m_changed.notify_all();
    }

    uint32_t Limit()
    {
        std::lock_guard g(m_lock);
        return m_limit;
    }

    void LoadDefaultOnce()
    {
        std::call_once(m_loadOnce, [this] {
            {
                std::lock_guard g(m_lock);
                if (m_limitKnown)
                    return;
            }
            // Read unlocked: file I/O must not hold up streams to other servers.
            uint32_t limit = StoredLimit(SettingsStore(SettingsStore::DefaultPath()));
            std::lock_guard g(m_lock);
            if (!m_limitKnown) {
                m_limit = limit;
                m_limitKnown = true;
            }
        });
    }

    // False when `cancelled` came first.
    bool Acquire(Slot& slot, std::string server, const std::atomic<bool>& cancelled)
    {
        std::unique_lock g(m_lock);
        m_changed.wait(g,
                       [&] { return cancelled.load() || m_limit == 0 || Held(server) < m_limit; });
        if (cancelled.load())
            return false;
        ++m_held[server];
        slot.server = std::move(server);
        slot.held = true;
        return true;
    }

    // Always wakes the waiters, so a cancelled one sees its flag.
    void Release(Slot& slot)
    {
        {
            std::lock_guard g(m_lock);
            if (slot.held) {
                slot.held = false;
                if (--m_held[slot.server] == 0)
                    m_held.erase(slot.server);
            }
        }
        m_changed.notify_all();
    }

private:
    uint32_t Held(const std::string& server) const
    {
        auto it = m_held.find(server);
        return it == m_held.end() ? 0 : it->second;
    }

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::map<std::string, uint32_t> m_held;
    uint32_t m_limit = 0;
    bool m_limitKnown = false;
    std::once_flag m_loadOnce;
};

} // namespace

void SetConnectionsPerServer(uint32_t limit)
{
    ConnectionSlots::Get().SetLimit(limit);
}

uint32_t ConnectionsPerServer()
{
    return ConnectionSlots::Get().Limit();
}

void LoadConnectionLimit(const SettingsStore& store)
{
    SetConnectionsPerServer(StoredLimit(store));
}

bool IsCertificateFailure(int errorCode)
{
    switch (errorCode) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return true;
    default:
        return false;
    }
}

struct HttpStream::Impl
{
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    curl_slist* headers = nullptr;
    char errorText[CURL_ERROR_SIZE] = {};
    // Taken here so the table outlives every stream.
    ConnectionSlots& slots = ConnectionSlots::Get();
    ConnectionSlots::Slot slot;

    ~Impl()
    {
        if (multi && easy)
            curl_multi_remove_handle(multi, easy);
        if (easy)
            curl_easy_cleanup(easy);
        if (multi)
            curl_multi_cleanup(multi);
        curl_slist_free_all(headers);
        // After the connection is closed, so the next stream never overlaps it.
        slots.Release(slot);
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
        bool mayRetry = code == 401 && s->SendsCredentials();
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
    try {
        s->m_buffer.insert(s->m_buffer.end(), data, data + n);
    } catch (...) {
        s->m_callbackError = std::current_exception();
        return CURL_WRITEFUNC_ERROR;
    }
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
            if (msg->msg == CURLMSG_DONE)
                Finish(msg->data.result);
        }
        if (mc != CURLM_OK && !m_done)
            Finish(CURLE_FAILED_INIT);
        if (ready() || m_done)
            return;
        // libcurl's own low-speed check works in whole seconds and only roughly; this one is
        // exact to the poll interval.
        if (m_request.idleTimeout.count() > 0 &&
            std::chrono::steady_clock::now() - m_lastProgress > m_request.idleTimeout) {
            Finish(CURLE_OPERATION_TIMEDOUT);
            return;
        }
        curl_multi_poll(m_impl->multi, nullptr, 0, kPollMs, nullptr);
    }
}

void HttpStream::Finish(int error)
{
    m_done = true;
    m_error = error;
    m_impl->slots.Release(m_impl->slot);
}

bool HttpStream::Open()
{
    if (m_started)
        return m_replyBegun;
    const auto sent = std::chrono::steady_clock::now();
    TraceRequestStart(this, m_request.post ? "POST" : "GET", m_request.url);
    const bool answered = OpenTransfer();
    HttpTraceEnd end;
    end.status = answered ? m_status : 0;
    end.error = m_error;
    end.errorText = m_error ? ErrorText() : std::string();
    end.cancelled = m_cancelled.load();
    TraceRequestEnd(this,
                    std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - sent),
                    end);
    return answered;
}

bool HttpStream::OpenTransfer()
{
    m_started = true;
    Impl& im = *m_impl;
    if (!im.easy || !im.multi) {
        Finish(CURLE_FAILED_INIT);
        return false;
    }
    const TrustedCertificates& trusted = Trusted(im.easy);
    if (!trusted.problem.empty() &&
        StartsWithNoCase(m_request.url.data(), m_request.url.size(), "https:")) {
        std::snprintf(im.errorText, sizeof im.errorText, "%s", trusted.problem.c_str());
        Finish(CURLE_SSL_CACERT_BADFILE);
        return false;
    }
    im.slots.LoadDefaultOnce();
    // A URL that does not parse takes no slot; the transfer fails on it anyway.
    if (std::string server = ServerOf(m_request.url);
        !server.empty() && !im.slots.Acquire(im.slot, std::move(server), m_cancelled))
        return false;
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
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    if (trusted.extra) {
        curl_blob blob{const_cast<char*>(trusted.pem.data()), trusted.pem.size(),
                       CURL_BLOB_NOCOPY};
        curl_easy_setopt(e, CURLOPT_CAINFO_BLOB, &blob);
    }
    if (!m_request.userAgent.empty())
        curl_easy_setopt(e, CURLOPT_USERAGENT, m_request.userAgent.c_str());
    if (SendsCredentials()) {
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
    if (m_callbackError)
        std::rethrow_exception(m_callbackError);
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
    if (m_callbackError)
        std::rethrow_exception(m_callbackError);
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
    m_impl->slots.Release(m_impl->slot);
    if (m_impl->multi)
        curl_multi_wakeup(m_impl->multi);
}

} // namespace platform
