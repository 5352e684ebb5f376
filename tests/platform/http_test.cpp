#include "platform/clock.h"
#include "platform/http.h"
#include "platform/settings.h"
#include "tests/support/raw_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <future>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using platform::HttpRequest;
using platform::HttpStream;
using platform::SettingsRoot;
using platform::SettingsStore;
using testsupport::RawServer;

namespace {

// Generous: the layer wakes within ~50 ms; this only has to hold on a loaded sanitizer build.
constexpr uint32_t kQuickMs = 2000;

std::string Reply(const std::string& status, const std::string& body,
                  const std::string& extraHeaders = "")
{
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           extraHeaders + "\r\n" + body;
}

std::string ReadAll(HttpStream& s, size_t block = 1000)
{
    std::string out;
    std::vector<char> buf(block);
    while (size_t n = s.Read(buf.data(), buf.size()))
        out.append(buf.data(), n);
    return out;
}

HttpRequest Get(const std::string& url)
{
    HttpRequest r;
    r.url = url;
    return r;
}

} // namespace

TEST(HttpStream, ErrorStatusBodyIsReadLikeAnyOther)
{
    const std::string page = "<HTML><HEAD><TITLE>401 Unauthorized</TITLE></HEAD></HTML>";
    RawServer server([&](RawServer::Connection& c) {
        c.ReadRequest();
        c.Send(Reply("401 Unauthorized", page));
    });
    HttpStream s(Get(server.Url("img/query.cgi")));
    ASSERT_TRUE(s.Open());
    EXPECT_EQ(s.Status(), 401);
    EXPECT_EQ(ReadAll(s), page);
    EXPECT_TRUE(s.Complete());
}

TEST(HttpStream, LargeBodyArrivesWholeAndInOrderWhenReadSlowly)
{
    std::string body(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>((i * 2654435761u) >> 13);
    RawServer server([&](RawServer::Connection& c) {
        c.ReadRequest();
        c.Send(Reply("200 OK", body));
    });
    HttpStream s(Get(server.Url("big")));
    ASSERT_TRUE(s.Open());
    // Small reads keep the unread backlog above the pause threshold for a while.
    std::string got;
    char buf[777];
    while (size_t n = s.Read(buf, sizeof buf))
        got.append(buf, n);
    EXPECT_EQ(got.size(), body.size());
    EXPECT_TRUE(got == body);
    EXPECT_TRUE(s.Complete());
}

TEST(HttpStream, EmptyBodyOpensAndReadsNothing)
{
    RawServer server([&](RawServer::Connection& c) {
        c.ReadRequest();
        c.Send(Reply("200 OK", ""));
    });
    HttpStream s(Get(server.Url()));
    ASSERT_TRUE(s.Open());
    char b[8];
    EXPECT_EQ(s.Read(b, sizeof b), 0u);
    EXPECT_TRUE(s.Complete());
}

TEST(HttpStream, UnreachableServerFailsToOpenWithACode)
{
    int port;
    {
        RawServer closed([](RawServer::Connection&) {});
        port = closed.Port();
    }
    HttpStream s(Get("http://127.0.0.1:" + std::to_string(port) + "/x"));
    EXPECT_FALSE(s.Open());
    EXPECT_NE(s.ErrorCode(), 0);
    EXPECT_FALSE(s.ErrorText().empty());
}

TEST(HttpStream, CancelWakesAHangingOpen)
{
    RawServer server([](RawServer::Connection& c) {
        c.ReadRequest();
        c.Hold();
    });
    HttpStream s(Get(server.Url("img/mjpeg.cgi")));
    std::atomic<uint32_t> returnedAt{0};
    std::atomic<bool> opened{true};
    std::thread opener([&] {
        opened = s.Open();
        returnedAt = platform::TickMs();
    });
    while (server.Accepted() == 0)
        platform::SleepMs(1);
    platform::SleepMs(100);
    uint32_t cancelAt = platform::TickMs();
    s.Cancel();
    opener.join();
    EXPECT_FALSE(opened.load());
    EXPECT_TRUE(s.Cancelled());
    EXPECT_LT(returnedAt.load() - cancelAt, kQuickMs);
}

TEST(HttpStream, CancelWakesABlockedReadAndLaterReadsReturnNothing)
{
    RawServer server([](RawServer::Connection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace\r\n\r\nfirst");
        c.Hold();
    });
    HttpStream s(Get(server.Url("img/mjpeg.cgi")));
    ASSERT_TRUE(s.Open());
    char buf[64];
    ASSERT_EQ(s.Read(buf, sizeof buf), 5u);
    std::atomic<uint32_t> returnedAt{0};
    std::atomic<size_t> got{99};
    std::thread reader([&] {
        got = s.Read(buf, sizeof buf);
        returnedAt = platform::TickMs();
    });
    platform::SleepMs(100);
    uint32_t cancelAt = platform::TickMs();
    s.Cancel();
    reader.join();
    EXPECT_EQ(got.load(), 0u);
    EXPECT_LT(returnedAt.load() - cancelAt, kQuickMs);
    EXPECT_EQ(s.Read(buf, sizeof buf), 0u);
}

TEST(HttpStream, OpenAndReadMayRunOnDifferentThreadsInTurn)
{
    RawServer server([](RawServer::Connection& c) {
        c.ReadRequest();
        c.Send(Reply("200 OK", "0123456789"));
    });
    HttpStream s(Get(server.Url()));
    bool opened = false;
    std::thread([&] { opened = s.Open(); }).join();
    ASSERT_TRUE(opened);
    std::string body;
    std::thread([&] { body = ReadAll(s, 3); }).join();
    EXPECT_EQ(body, "0123456789");
}

TEST(HttpStream, BodyCutShortEndsTheReadIncomplete)
{
    RawServer server([](RawServer::Connection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly-this");
    });
    HttpStream s(Get(server.Url()));
    ASSERT_TRUE(s.Open());
    EXPECT_EQ(ReadAll(s), "only-this");
    EXPECT_FALSE(s.Complete());
    EXPECT_NE(s.ErrorCode(), 0);
}

TEST(HttpStream, StalledReplyFailsAfterTheIdleTimeout)
{
    RawServer server([](RawServer::Connection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nab");
        c.Hold();
    });
    HttpRequest r = Get(server.Url());
    r.idleTimeout = 1000ms;
    HttpStream s(r);
    ASSERT_TRUE(s.Open());
    EXPECT_EQ(ReadAll(s), "ab");
    EXPECT_FALSE(s.Complete());
}

TEST(HttpStream, CredentialsGoOutOnlyWithAUserName)
{
    std::vector<std::string> requests;
    std::mutex lock;
    RawServer server([&](RawServer::Connection& c) {
        for (;;) {
            std::string req = c.ReadRequest();
            if (req.empty())
                return;
            bool authorized = req.find("Authorization: Basic") != std::string::npos;
            {
                std::lock_guard g(lock);
                requests.push_back(req);
            }
            if (authorized)
                c.Send(Reply("200 OK", "ok"));
            else
                c.Send(Reply("401 Unauthorized", "<HTML><HEAD><TITLE>401",
                             "WWW-Authenticate: Basic realm=\"cam\"\r\n"));
        }
    });
    {
        HttpStream anonymous(Get(server.Url("a")));
        ASSERT_TRUE(anonymous.Open());
        EXPECT_EQ(anonymous.Status(), 401);
        EXPECT_EQ(ReadAll(anonymous), "<HTML><HEAD><TITLE>401");
    }
    HttpRequest r = Get(server.Url("b"));
    r.user = "a-user-name-well-beyond-thirty-one-characters";
    r.password = "pw";
    HttpStream s(r);
    ASSERT_TRUE(s.Open());
    EXPECT_EQ(s.Status(), 200);
    EXPECT_EQ(ReadAll(s), "ok");
    server.Stop();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0].find("Authorization"), std::string::npos);
    // base64("a-user-name-well-beyond-thirty-one-characters:pw"): the long name goes out whole.
    EXPECT_NE(requests.back().find(
                  "YS11c2VyLW5hbWUtd2VsbC1iZXlvbmQtdGhpcnR5LW9uZS1jaGFyYWN0ZXJzOnB3"),
              std::string::npos);
}

TEST(HttpStream, PostSendsBodyAndHeadersAsGiven)
{
    std::string seen;
    RawServer server([&](RawServer::Connection& c) {
        seen = c.ReadRequest();
        c.Send(Reply("200 OK", "MOT: OK\r\n"));
    });
    HttpRequest r = Get(server.Url("ocxparser.cgi"));
    r.post = true;
    r.headers.push_back("Content-Type: application/x-www-form-urlencoded");
    r.body = "COMMAND: MOT_OCX_FREE\r\n\r\n";
    r.userAgent = "agent/1";
    HttpStream s(r);
    ASSERT_TRUE(s.Open());
    EXPECT_EQ(ReadAll(s), "MOT: OK\r\n");
    server.Stop();
    EXPECT_NE(seen.find("POST /ocxparser.cgi HTTP/1.1\r\n"), std::string::npos);
    EXPECT_NE(seen.find("Content-Length: 25\r\n"), std::string::npos);
    EXPECT_NE(seen.find("Content-Type: application/x-www-form-urlencoded\r\n"), std::string::npos);
    EXPECT_NE(seen.find("User-Agent: agent/1\r\n"), std::string::npos);
    EXPECT_EQ(seen.find("Expect:"), std::string::npos);
    EXPECT_EQ(seen.substr(seen.size() - 25), "COMMAND: MOT_OCX_FREE\r\n\r\n");
}

namespace {

// Only a broken wait takes this long; it bounds a failing test, it does not time a passing one.
constexpr auto kAtMost = 30s;
// Lets an Open that wrongly does not wait get through; a waiting one passes however long it is.
constexpr auto kChance = 200ms;

// Replies with a body that never ends, so each stream keeps its connection until it goes.
void Endless(RawServer::Connection& c)
{
    if (c.ReadRequest().empty())
        return;
    c.Send("HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace\r\n\r\nframe");
    c.Hold();
}

// Open() on a thread of its own, so a test can watch it wait for a slot without hanging on it.
class OpenInBackground
{
public:
    explicit OpenInBackground(HttpStream& s)
        : m_stream(s), m_thread([this] { m_result.set_value(m_stream.Open()); })
    {
    }
    ~OpenInBackground()
    {
        if (!Returned(0ms))
            m_stream.Cancel();
        m_thread.join();
    }
    bool Returned(std::chrono::milliseconds within)
    {
        return m_returned.wait_for(within) == std::future_status::ready;
    }
    bool Result() { return m_returned.get(); }

private:
    HttpStream& m_stream;
    std::promise<bool> m_result;
    std::shared_future<bool> m_returned = m_result.get_future().share();
    std::thread m_thread;
};

bool OpensPromptly(HttpStream& s)
{
    OpenInBackground open(s);
    return open.Returned(kAtMost) && open.Result();
}

class ConnectionLimit : public ::testing::Test
{
protected:
    void TearDown() override { platform::SetConnectionsPerServer(0); }
};

} // namespace

TEST_F(ConnectionLimit, OpenBeyondTheLimitWaitsUntilAStreamToThatServerGoes)
{
    platform::SetConnectionsPerServer(2);
    RawServer server(Endless);
    auto first = std::make_unique<HttpStream>(Get(server.Url("a")));
    HttpStream second(Get(server.Url("b")));
    HttpStream third(Get(server.Url("c")));
    ASSERT_TRUE(first->Open());
    ASSERT_TRUE(second.Open());

    OpenInBackground open(third);
    EXPECT_FALSE(open.Returned(kChance));
    EXPECT_EQ(server.Accepted(), 2);
    first.reset();
    ASSERT_TRUE(open.Returned(kAtMost));
    EXPECT_TRUE(open.Result());
    EXPECT_EQ(server.Accepted(), 3);
}

TEST_F(ConnectionLimit, ASlotIsFreedWhenTheBodyEndsOrTheStreamIsCancelled)
{
    platform::SetConnectionsPerServer(1);
    RawServer server([](RawServer::Connection& c) {
        std::string request = c.ReadRequest();
        if (request.starts_with("GET /short ")) {
            c.Send(Reply("200 OK", "done"));
            c.Hold();
        } else if (!request.empty()) {
            c.Send("HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace\r\n\r\nframe");
            c.Hold();
        }
    });
    HttpStream finished(Get(server.Url("short")));
    ASSERT_TRUE(finished.Open());
    EXPECT_EQ(ReadAll(finished), "done");
    ASSERT_TRUE(finished.Complete());

    HttpStream cancelled(Get(server.Url("endless")));
    ASSERT_TRUE(OpensPromptly(cancelled));
    cancelled.Cancel();

    HttpStream last(Get(server.Url("endless")));
    EXPECT_TRUE(OpensPromptly(last));
}

TEST_F(ConnectionLimit, ServersAreCountedApartByPortAndCaselessHostName)
{
    platform::SetConnectionsPerServer(1);
    RawServer one(Endless);
    RawServer other(Endless);
    const std::string port = std::to_string(one.Port());
    HttpStream byAddress(Get(one.Url()));
    ASSERT_TRUE(byAddress.Open());

    HttpStream otherPort(Get(other.Url()));
    EXPECT_TRUE(OpensPromptly(otherPort));
    HttpStream byName(Get("http://localhost:" + port + "/"));
    EXPECT_TRUE(OpensPromptly(byName));

    HttpStream sameName(Get("http://LocalHost:" + port + "/"));
    {
        OpenInBackground open(sameName);
        EXPECT_FALSE(open.Returned(kChance));
        sameName.Cancel();
    }
    EXPECT_EQ(one.Accepted(), 2);
}

TEST_F(ConnectionLimit, CancelWakesAnOpenWaitingForASlotWithoutFreeingAnother)
{
    platform::SetConnectionsPerServer(1);
    RawServer server(Endless);
    auto holder = std::make_unique<HttpStream>(Get(server.Url()));
    ASSERT_TRUE(holder->Open());

    HttpStream waiting(Get(server.Url()));
    {
        OpenInBackground open(waiting);
        EXPECT_FALSE(open.Returned(kChance));
        waiting.Cancel();
        ASSERT_TRUE(open.Returned(kAtMost));
        EXPECT_FALSE(open.Result());
    }
    EXPECT_EQ(server.Accepted(), 1);

    // The holder's slot is still taken.
    HttpStream next(Get(server.Url()));
    OpenInBackground open(next);
    EXPECT_FALSE(open.Returned(kChance));
    holder.reset();
    ASSERT_TRUE(open.Returned(kAtMost));
    EXPECT_TRUE(open.Result());
}

TEST_F(ConnectionLimit, RaisingTheLimitLetsAWaitingOpenThrough)
{
    platform::SetConnectionsPerServer(1);
    RawServer server(Endless);
    HttpStream holder(Get(server.Url()));
    ASSERT_TRUE(holder.Open());
    HttpStream waiting(Get(server.Url()));
    OpenInBackground open(waiting);
    EXPECT_FALSE(open.Returned(kChance));
    platform::SetConnectionsPerServer(2);
    ASSERT_TRUE(open.Returned(kAtMost));
    EXPECT_TRUE(open.Result());
}

namespace {

class TempSettings
{
public:
    TempSettings()
    {
        char tmpl[] = "/tmp/camctl-http-XXXXXX";
        if (::mkdtemp(tmpl))
            m_dir = tmpl;
    }
    ~TempSettings() { std::filesystem::remove_all(m_dir); }
    std::filesystem::path File() const { return m_dir / "settings.reg"; }

private:
    std::filesystem::path m_dir;
};

constexpr const char* kInternetSettings =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

} // namespace

TEST_F(ConnectionLimit, LoadedFromTheCurrentUsersInternetSettings)
{
    TempSettings temp;
    SettingsStore store(temp.File());
    ASSERT_TRUE(store.SetDword(SettingsRoot::CurrentUser, kInternetSettings,
                               "MaxConnectionsPerServer", 25));
    platform::LoadConnectionLimit(store);
    EXPECT_EQ(platform::ConnectionsPerServer(), 25u);

    ASSERT_TRUE(
        store.DeleteValue(SettingsRoot::CurrentUser, kInternetSettings, "MaxConnectionsPerServer"));
    ASSERT_TRUE(
        store.SetDword(SettingsRoot::ClassesRoot, kInternetSettings, "MaxConnectionsPerServer", 7));
    platform::LoadConnectionLimit(store);
    EXPECT_EQ(platform::ConnectionsPerServer(), 0u);
}

TEST(ConnectionLimitDefault, FirstOpenReadsTheStoreTheEnvironmentNames)
{
    // A fresh process, where nothing has set the limit yet.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto limitAfterFirstOpen = [] {
        TempSettings temp;
        SettingsStore(temp.File())
            .SetDword(SettingsRoot::CurrentUser, kInternetSettings, "MaxConnectionsPerServer", 25);
        ::setenv("CAMCTL_SETTINGS", temp.File().c_str(), 1);
        if (platform::ConnectionsPerServer() != 0)
            return 1;
        RawServer server([](RawServer::Connection& c) {
            c.ReadRequest();
            c.Send(Reply("200 OK", ""));
        });
        HttpStream s(Get(server.Url()));
        s.Open();
        return static_cast<int>(platform::ConnectionsPerServer());
    };
    EXPECT_EXIT(std::exit(limitAfterFirstOpen()), ::testing::ExitedWithCode(25), "");
}
