#include "stream/http_poster.h"

#include "camsim/camera.h"
#include "platform/wait.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <thread>

namespace {

// Text long enough to need many blocks, with every position telling where it belongs.
std::string LongText(size_t size)
{
    std::string text;
    for (size_t i = 0; text.size() < size; ++i)
        text += std::to_string(i) + ",";
    text.resize(size);
    return text;
}

class PosterTest : public ::testing::Test
{
protected:
    void StartCamera(camsim::Config config = {})
    {
        camera = std::make_unique<camsim::Camera>(std::move(config));
        camera->AddEndpoint("GET", "long.txt", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(LongText(300000), "text/plain");
        });
        camera->AddEndpoint("GET", "empty.txt", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("", "text/plain");
        });
        camera->AddEndpoint("GET", "zero.bin", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string("before\0after", 12), "application/octet-stream");
        });
        // "?n=N": N bytes of text without a length up front, as a reply that runs on.
        camera->AddEndpoint(
            "GET", "run-on.txt", [](const httplib::Request& req, httplib::Response& res) {
                const size_t n = std::stoul(req.get_param_value("n"));
                res.set_chunked_content_provider(
                    "text/plain",
                    [text = LongText(n), at = size_t(0)](size_t, httplib::DataSink& sink) mutable {
                        if (at == text.size()) {
                            sink.done();
                            return true;
                        }
                        const size_t chunk = std::min<size_t>(65536, text.size() - at);
                        at += chunk;
                        return sink.write(text.data() + at - chunk, chunk);
                    });
            });
        ASSERT_TRUE(camera->Start());
    }
    std::string Url(const std::string& endpoint) const { return camera->BaseUrl() + endpoint; }

    std::unique_ptr<camsim::Camera> camera;
};

const PosterTimings kShortWait{std::chrono::milliseconds(10), std::chrono::milliseconds(300)};

// Blocks, and gives up once its time has come: as a window that is closed while it waits.
class GivingUpWaiter final : public platform::Waiter
{
public:
    explicit GivingUpWaiter(std::chrono::milliseconds after)
        : m_end(std::chrono::steady_clock::now() + after)
    {
    }
    bool WaitUntil(const std::function<bool()>& ready, std::chrono::milliseconds timeout,
                   bool cancellable) override
    {
        const auto start = std::chrono::steady_clock::now();
        while (!ready()) {
            if ((cancellable && Cancelled()) ||
                std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - start) >= timeout)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    bool Cancelled() const override { return std::chrono::steady_clock::now() >= m_end; }

private:
    const std::chrono::steady_clock::time_point m_end;
};

} // namespace

TEST(PosterDefaults, WaitsAndBufferProfilesAreTheCameraProtocolOnes)
{
    PosterTimings timings;
    EXPECT_EQ(timings.settle.count(), 300);
    EXPECT_EQ(timings.sendWait.count(), 30000);
    EXPECT_EQ(kViewerPosterProfile.blockSize, 8191u);
    EXPECT_EQ(kZonePosterProfile.blockSize, 255999u);
}

TEST_F(PosterTest, LongRepliesComeBackWholeAndInOrderWithEitherProfile)
{
    StartCamera();
    for (const PosterProfile& profile : {kViewerPosterProfile, kZonePosterProfile}) {
        CHttpPoster poster(profile);
        std::string reply;
        ASSERT_TRUE(poster.Request(reply, Url("long.txt"), false, "", ""));
        EXPECT_EQ(reply.size(), 300000u);
        EXPECT_TRUE(reply == LongText(300000));
        EXPECT_EQ(poster.GetLastError(), 0);
    }
}

TEST_F(PosterTest, EmptyRepliesAndZeroBytesEndTheText)
{
    StartCamera();
    CHttpPoster poster;
    std::string reply = "stale";
    ASSERT_TRUE(poster.Request(reply, Url("empty.txt"), false, "", ""));
    EXPECT_EQ(reply, "");
    ASSERT_TRUE(CHttpPoster().Request(reply, Url("zero.bin"), false, "", ""));
    EXPECT_EQ(reply, "before");
}

TEST_F(PosterTest, SendsItsAgentAndTheFormHeaderAndTheBodyLength)
{
    StartCamera();
    std::string reply;
    const std::string body = "COMMAND: MOT_READ_AREA\r\n\r\n";
    ASSERT_TRUE(CHttpPoster(kZonePosterProfile)
                    .Request(reply, Url("ocxparser.cgi"), true, "", "", body.c_str(), -1));
    EXPECT_EQ(reply.rfind("RES: 3\r\n", 0), 0u);
    // An explicit length sends exactly that many bytes.
    ASSERT_TRUE(CHttpPoster().Request(reply, Url("ocxparser.cgi"), true, "", "",
                                      "COMMAND: MOT_OCX_FREE\r\n\r\nJUNK", 25));
    EXPECT_EQ(reply, "MOT: OK\r\n");
    ASSERT_TRUE(CHttpPoster().Request(reply, Url("img/query.cgi"), false, "", ""));

    auto requests = camera->Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, body);
    EXPECT_EQ(requests[0].contentType, "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[1].body, "COMMAND: MOT_OCX_FREE\r\n\r\n");
    for (const auto& r : requests)
        EXPECT_EQ(r.userAgent, "Vandrel HTTP Poster 1.0");
    EXPECT_EQ(requests[2].method, "GET");
}

TEST_F(PosterTest, AnEmptyPasswordGoesOutAsTildeAndRefusalsComeBackAsText)
{
    camsim::Config config;
    config.user = "viewer";
    config.password = "~";
    config.auth = camsim::AuthScheme::Basic;
    StartCamera(config);

    std::string reply;
    ASSERT_TRUE(CHttpPoster().Request(reply, Url("img/query.cgi"), false, "viewer", ""));
    EXPECT_EQ(reply, "ptctrl=on\r\nioctrl=off\r\n");
    bool sawTilde = false;
    for (const auto& r : camera->Requests())
        sawTilde = sawTilde || (r.authUser == "viewer" && r.authPassword == "~");
    EXPECT_TRUE(sawTilde);

    // Refused: the 401 page is the reply, not a failure.
    ASSERT_TRUE(CHttpPoster().Request(reply, Url("img/query.cgi"), false, "viewer", "wrong"));
    EXPECT_EQ(reply.rfind("<HTML><HEAD><TITLE>401", 0), 0u);
    ASSERT_TRUE(CHttpPoster().Request(reply, Url("util/query.cgi"), false, "", ""));
    EXPECT_EQ(reply.rfind("<HTML><HEAD><TITLE>401", 0), 0u);
}

TEST_F(PosterTest, AReplyLongerThanTheProfilesCapIsAFailure)
{
    StartCamera();
    for (const PosterProfile& profile : {kViewerPosterProfile, kZonePosterProfile}) {
        const size_t cap = profile.maxReply;
        std::string reply = "untouched";
        const std::string over = Url("run-on.txt?n=" + std::to_string(cap + 1));
        EXPECT_FALSE(CHttpPoster(profile).Request(reply, over, false, "", "")) << cap;
        EXPECT_TRUE(reply == "untouched"); // not printed: it may be a megabyte
        const std::string whole = Url("run-on.txt?n=" + std::to_string(cap));
        ASSERT_TRUE(CHttpPoster(profile).Request(reply, whole, false, "", ""));
        EXPECT_EQ(reply.size(), cap);
    }
}

TEST_F(PosterTest, AnEmptyUserGoesOutEmptyAndAnAccountWithoutPasswordTakesTheTilde)
{
    for (camsim::AuthScheme scheme : {camsim::AuthScheme::Basic, camsim::AuthScheme::Digest}) {
        camsim::Config config;
        config.user = "admin";
        config.auth = scheme;
        StartCamera(config);
        std::string reply;
        ASSERT_TRUE(CHttpPoster().Request(reply, Url("img/query.cgi"), false, "admin", ""));
        EXPECT_EQ(reply, "ptctrl=on\r\nioctrl=off\r\n");
        ASSERT_TRUE(CHttpPoster().Request(reply, Url("img/query.cgi"), false, "", ""));
        EXPECT_EQ(reply.rfind("<HTML><HEAD><TITLE>401", 0), 0u);
        if (scheme == camsim::AuthScheme::Basic) {
            bool sawEmptyUser = false;
            for (const auto& r : camera->Requests())
                sawEmptyUser = sawEmptyUser || (r.authUser.empty() && r.authPassword == "~");
            EXPECT_TRUE(sawEmptyUser);
        }
    }
}

TEST_F(PosterTest, AHangingCameraGivesFalseWithinTheWait)
{
    StartCamera();
    camsim::Fault hang;
    hang.hang = true;
    camera->SetFault("img/query.cgi", hang);
    camera->SetFault("ocxparser.cgi", hang);

    std::string reply = "untouched";
    auto start = std::chrono::steady_clock::now();
    CHttpPoster get(kViewerPosterProfile, kShortWait);
    EXPECT_FALSE(get.Request(reply, Url("img/query.cgi"), false, "", ""));
    CHttpPoster post(kZonePosterProfile, kShortWait);
    EXPECT_FALSE(post.Request(reply, Url("ocxparser.cgi"), true, "", "", "COMMAND: MOT_OCX_FREE\r\n\r\n"));
    EXPECT_NE(post.GetLastError(), 0);
    // Generous: the point is that neither waited for the camera, which never answers.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(reply, "untouched");
    camera->ClearFaults();
    EXPECT_TRUE(CHttpPoster(kViewerPosterProfile, kShortWait)
                    .Request(reply, Url("img/query.cgi"), false, "", ""));
}

TEST_F(PosterTest, FailuresAreReportedAsFailures)
{
    StartCamera();
    std::string reply;
    CHttpPoster noUrl;
    EXPECT_FALSE(noUrl.Request(reply, "", false, "", ""));
    EXPECT_EQ(noUrl.GetLastError(), -1);
    EXPECT_FALSE(noUrl.Request(reply, "", true, "", "", "x"));
    EXPECT_EQ(noUrl.GetLastError(), -1);

    // Nothing listens on a port the camera has just given up.
    const std::string gone = Url("img/query.cgi");
    camera->Stop();
    CHttpPoster get;
    EXPECT_FALSE(get.Request(reply, gone, false, "", ""));
    EXPECT_GT(get.GetLastError(), 0);
    CHttpPoster post;
    EXPECT_FALSE(post.Request(reply, gone, true, "", "", "COMMAND: MOT_READ_AREA\r\n\r\n"));
    EXPECT_GT(post.GetLastError(), 0);

    // A reply cut short still hands over what came.
    StartCamera();
    camsim::Fault cut;
    cut.closeAfterBytes = 5000;
    camera->SetFault("long.txt", cut);
    ASSERT_TRUE(CHttpPoster().Request(reply, Url("long.txt"), false, "", ""));
    EXPECT_EQ(reply, LongText(5000));
}

TEST_F(PosterTest, AWaiterThatGivesUpEndsTheRequestAndSendsNoMore)
{
    StartCamera();
    // Answered after a second, so a request that is not given up succeeds.
    camsim::Fault slow;
    slow.delayMs = 1000;
    camera->SetFault("img/query.cgi", slow);
    camera->SetFault("ocxparser.cgi", slow);
    for (const bool post : {false, true}) {
        GivingUpWaiter waiter(std::chrono::milliseconds(100));
        std::string reply = "untouched";
        CHttpPoster poster(kZonePosterProfile, {}, &waiter);
        EXPECT_FALSE(poster.Request(reply, Url(post ? "ocxparser.cgi" : "img/query.cgi"), post, "",
                                    "", "COMMAND: MOT_OCX_FREE\r\n\r\n"))
            << post;
        EXPECT_EQ(reply, "untouched");
        EXPECT_FALSE(CHttpPoster(kViewerPosterProfile, {}, &waiter)
                         .Request(reply, Url("empty.txt"), false, "", ""));
    }
    for (const auto& r : camera->Requests())
        EXPECT_NE(r.endpoint, "empty.txt");
}
