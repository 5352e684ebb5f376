#include "camsim/camera.h"
#include "platform/http.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace camsim;

namespace {

struct Reply
{
    bool opened = false;
    int status = 0;
    std::string body;
    bool complete = false;
};

Reply Fetch(const std::string& url, const std::string& user = {}, const std::string& password = {},
            const std::string& post = {}, bool isPost = false)
{
    platform::HttpRequest request;
    request.url = url;
    request.user = user;
    request.password = password;
    request.post = isPost;
    request.body = post;
    request.idleTimeout = std::chrono::seconds(20);
    platform::HttpStream stream(request);
    Reply reply;
    reply.opened = stream.Open();
    reply.status = stream.Status();
    char block[4096];
    while (size_t n = stream.Read(block, sizeof block))
        reply.body.append(block, n);
    reply.complete = stream.Complete();
    return reply;
}

Reply ZonePost(Camera& camera, const std::string& body, const std::string& user = {},
           const std::string& password = {})
{
    return Fetch(camera.BaseUrl() + "ocxparser.cgi", user, password, body, true);
}

std::string SaveBody(const ZoneConfig& c)
{
    std::string body = "COMMAND: MOT_SAVE_AREA\r\nRES: 3\r\n";
    const char* keys[7] = {"EN: ", "THD: ", "SENS: ", "X1: ", "Y1: ", "X2: ", "Y2: "};
    for (int n = 0; n < 4; ++n) {
        const Zone& z = c.zones[size_t(n)];
        int values[7] = {z.enable, z.threshold, z.sensitivity, z.x1, z.y1, z.x2, z.y2};
        for (int f = 0; f < 7; ++f)
            body += "AREA" + std::to_string(n) + keys[f] + std::to_string(values[f]) + "\r\n";
    }
    return body + "\r\n";
}

ZoneConfig SampleZones()
{
    ZoneConfig c;
    c.resolution = 3;
    for (int n = 0; n < 4; ++n)
        c.zones[size_t(n)] = Zone{n % 2, 10 * n + 1, n + 2, n * 100, n * 50, n * 100 + 90, n * 50 + 40};
    return c;
}

} // namespace

TEST(Camera, QueriesAnswerTheirLinesWithCarriageReturns)
{
    Config config;
    config.ptctrl = "off";
    config.ioctrl = "on";
    config.videoType = "jpeg";
    config.resolutions = "704*480,160*128";
    Camera camera(config);
    ASSERT_TRUE(camera.Start());
    ASSERT_GT(camera.Port(), 0);

    Reply image = Fetch(camera.BaseUrl() + "img/query.cgi");
    EXPECT_EQ(image.status, 200);
    EXPECT_EQ(image.body, "ptctrl=off\r\nioctrl=on\r\n");

    Reply util = Fetch(camera.BaseUrl() + "util/query.cgi");
    EXPECT_EQ(util.body, "type=jpeg\r\nvoice_out=on\r\nresolutions=704*480,160*128\r\n");

    Reply missing = Fetch(camera.BaseUrl() + "no/such.cgi");
    EXPECT_EQ(missing.status, 404);
    Reply wrongMethod = Fetch(camera.BaseUrl() + "img/query.cgi", {}, {}, "x", true);
    EXPECT_EQ(wrongMethod.status, 405);
}

TEST(Camera, CredentialsAreAskedWithTheRefusalPageAndCheckedForBothSchemes)
{
    for (AuthScheme scheme : {AuthScheme::Any, AuthScheme::Basic, AuthScheme::Digest}) {
        Config config;
        config.user = "admin";
        config.password = "s3cret";
        config.auth = scheme;
        Camera camera(config);
        ASSERT_TRUE(camera.Start());
        const std::string url = camera.BaseUrl() + "img/query.cgi";

        Reply anonymous = Fetch(url);
        EXPECT_EQ(anonymous.status, 401);
        EXPECT_EQ(anonymous.body.rfind("<HTML><HEAD><TITLE>401", 0), 0u) << anonymous.body;

        Reply wrong = Fetch(url, "admin", "nope");
        EXPECT_EQ(wrong.status, 401);
        EXPECT_NE(wrong.body.find("<HTML><HEAD><TITLE>401"), std::string::npos);

        Reply right = Fetch(url, "admin", "s3cret");
        EXPECT_EQ(right.status, 200) << int(scheme);
        EXPECT_EQ(right.body, "ptctrl=on\r\nioctrl=off\r\n");

        bool sawAuthorized = false;
        for (const auto& r : camera.Requests())
            if (r.authorized) {
                sawAuthorized = true;
                EXPECT_EQ(r.authUser, "admin");
                EXPECT_EQ(r.authPassword, scheme == AuthScheme::Basic ? "s3cret" : "");
            }
        EXPECT_TRUE(sawAuthorized);
    }
}

TEST(Camera, ZonesAreReadSavedAndReleased)
{
    Camera camera;
    ASSERT_TRUE(camera.Start());

    Reply read = ZonePost(camera, "COMMAND: MOT_READ_AREA\r\n\r\n");
    EXPECT_EQ(read.status, 200);
    int lines = 0;
    for (size_t at = 0; (at = read.body.find("\r\n", at)) != std::string::npos; at += 2)
        ++lines;
    EXPECT_EQ(lines, 29);
    EXPECT_EQ(read.body.rfind("RES: 3\r\nAREA0EN: ", 0), 0u);
    EXPECT_NE(read.body.find("AREA3Y2: "), std::string::npos);

    const ZoneConfig saved = SampleZones();
    Reply save = ZonePost(camera, SaveBody(saved));
    EXPECT_NE(save.body.find("MOT: OK"), std::string::npos);
    EXPECT_EQ(camera.Zones(), saved);
    EXPECT_EQ(ZonePost(camera, "COMMAND: MOT_READ_AREA\r\n\r\n").body, FormatZoneReply(saved));

    // A save that lacks a key or carries a non-number changes nothing.
    std::string cut = SaveBody(ZoneConfig::Defaults());
    cut.erase(cut.find("AREA2SENS: "), 15);
    Reply bad = ZonePost(camera, cut);
    EXPECT_EQ(bad.body.find("MOT: OK"), std::string::npos);
    std::string text = SaveBody(ZoneConfig::Defaults());
    text.replace(text.find("AREA1X2: ") + 9, 1, "x");
    EXPECT_EQ(ZonePost(camera, text).body.find("MOT: OK"), std::string::npos);
    EXPECT_EQ(camera.Zones(), saved);

    EXPECT_NE(ZonePost(camera, "COMMAND: MOT_OCX_FREE\r\n\r\n").body.find("MOT: OK"), std::string::npos);
    EXPECT_EQ(ZonePost(camera, "COMMAND: REBOOT\r\n\r\n").status, 400);
    EXPECT_EQ(ZonePost(camera, "").status, 400);
}

TEST(Camera, ZoneReadsReportTheCamerasOwnResolutionCodeWhateverASaveSends)
{
    for (int code : {3, 4, 5}) {
        SCOPED_TRACE(code);
        Config config;
        config.zoneResolution = code;
        Camera camera(config);
        ASSERT_TRUE(camera.Start());
        const std::string res = "RES: " + std::to_string(code) + "\r\n";
        EXPECT_EQ(ZonePost(camera, "COMMAND: MOT_READ_AREA\r\n\r\n").body.rfind(res, 0), 0u);

        std::string save = SaveBody(SampleZones());
        ASSERT_NE(save.find("RES: 3\r\n"), std::string::npos);
        EXPECT_NE(ZonePost(camera, save).body.find("MOT: OK"), std::string::npos);
        ZoneConfig want = SampleZones();
        want.resolution = code;
        EXPECT_EQ(camera.Zones(), want);
        EXPECT_EQ(ZonePost(camera, "COMMAND: MOT_READ_AREA\r\n\r\n").body, FormatZoneReply(want));
    }
}

TEST(Camera, ZoneCommandsAskForCredentialsLikeEveryEndpoint)
{
    Config config;
    config.user = "admin";
    config.password = "zone";
    Camera camera(config);
    ASSERT_TRUE(camera.Start());
    const ZoneConfig before = camera.Zones();

    Reply anonymous = ZonePost(camera, "COMMAND: MOT_READ_AREA\r\n\r\n");
    EXPECT_EQ(anonymous.status, 401);
    EXPECT_EQ(anonymous.body.rfind("<HTML><HEAD><TITLE>401", 0), 0u) << anonymous.body;
    Reply refused = ZonePost(camera, SaveBody(SampleZones()), "admin", "nope");
    EXPECT_EQ(refused.status, 401);
    EXPECT_EQ(refused.body.find("MOT: OK"), std::string::npos);
    EXPECT_EQ(camera.Zones(), before);

    EXPECT_NE(ZonePost(camera, SaveBody(SampleZones()), "admin", "zone").body.find("MOT: OK"),
              std::string::npos);
    EXPECT_EQ(ZonePost(camera, "COMMAND: MOT_READ_AREA\r\n\r\n", "admin", "zone").body,
              FormatZoneReply(SampleZones()));
}

TEST(Camera, ZoneReadCanAnswerBusyAndZonesFileOutlivesTheCamera)
{
    const auto dir = std::filesystem::temp_directory_path() /
                     ("camsim-zones-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    Config config;
    config.zonesFile = (dir / "zones.txt").string();
    {
        Camera camera(config);
        ASSERT_TRUE(camera.Start());
        EXPECT_NE(ZonePost(camera, SaveBody(SampleZones())).body.find("MOT: OK"), std::string::npos);
    }
    {
        Camera camera(config);
        EXPECT_EQ(camera.Zones(), SampleZones());
    }
    config.zoneRead403 = true;
    config.zoneResolution = 5; // the file's code is not the camera's
    Camera busy(config);
    ASSERT_TRUE(busy.Start());
    Reply read = ZonePost(busy, "COMMAND: MOT_READ_AREA\r\n\r\n");
    EXPECT_EQ(read.status, 403);
    EXPECT_EQ(read.body.rfind("<HTML><HEAD><TITLE>403", 0), 0u);
    ZoneConfig kept = SampleZones();
    kept.resolution = 5;
    EXPECT_EQ(busy.Zones(), kept);
    std::filesystem::remove_all(dir);
}

TEST(Camera, PanTiltCommandsAreRecordedAndMalformedOnesRefused)
{
    Camera camera;
    ASSERT_TRUE(camera.Start());
    EXPECT_EQ(Fetch(camera.BaseUrl() + "pt/ptctrl.cgi?position=-12,7,10").status, 200);
    EXPECT_EQ(Fetch(camera.BaseUrl() + "pt/ptctrl.cgi?position=1,2").status, 400);
    EXPECT_EQ(Fetch(camera.BaseUrl() + "pt/ptctrl.cgi?position=a,2,10").status, 400);
    EXPECT_EQ(Fetch(camera.BaseUrl() + "pt/ptctrl.cgi").status, 400);
    auto commands = camera.PanTiltCommands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].h, -12);
    EXPECT_EQ(commands[0].v, 7);
    EXPECT_EQ(commands[0].speed, 10);
}

TEST(Camera, FaultsDelayHangCutAndReplaceTheStatus)
{
    Camera camera;
    ASSERT_TRUE(camera.Start());
    const std::string url = camera.BaseUrl() + "util/query.cgi";

    Fault delay;
    delay.delayMs = 200;
    camera.SetFault("util/query.cgi", delay);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Fetch(url).status, 200);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    // Other endpoints are not affected.
    EXPECT_EQ(Fetch(camera.BaseUrl() + "img/query.cgi").status, 200);

    Fault cut;
    cut.closeAfterBytes = 7;
    camera.SetFault("util/query.cgi", cut);
    Reply partial = Fetch(url);
    EXPECT_EQ(partial.body, "type=mp");
    EXPECT_FALSE(partial.complete);

    Fault status;
    status.status = 500;
    camera.SetFault("*", status);
    camera.SetFault("util/query.cgi", {});
    EXPECT_EQ(Fetch(url).status, 200);
    Reply failed = Fetch(camera.BaseUrl() + "img/query.cgi");
    EXPECT_EQ(failed.status, 500);
    EXPECT_EQ(failed.body.rfind("<HTML><HEAD><TITLE>500", 0), 0u);

    Fault hang;
    hang.hang = true;
    camera.SetFault("util/query.cgi", hang);
    Reply released;
    const int before = camera.RequestsArrived();
    std::thread client([&] { released = Fetch(url); });
    while (camera.RequestsArrived() == before)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    camera.ClearFaults();
    client.join();
    EXPECT_EQ(released.status, 200);
}

TEST(Camera, StopReleasesAHangingReply)
{
    Camera camera;
    ASSERT_TRUE(camera.Start());
    Fault hang;
    hang.hang = true;
    camera.SetFault("*", hang);
    Reply reply;
    std::thread client([&] { reply = Fetch(camera.BaseUrl() + "img/query.cgi"); });
    while (camera.RequestsArrived() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    camera.Stop();
    client.join();
    EXPECT_NE(reply.status, 200);
    camera.Stop();
}

TEST(Camera, StreamSlotsStopAtTheUserLimit)
{
    Config config;
    config.maxUsers = 2;
    Camera camera(config);
    {
        auto a = camera.AcquireStreamSlot();
        auto b = camera.AcquireStreamSlot();
        auto c = camera.AcquireStreamSlot();
        EXPECT_TRUE(a);
        EXPECT_TRUE(b);
        EXPECT_FALSE(c);
        EXPECT_EQ(camera.ActiveStreams(), 2);
    }
    EXPECT_EQ(camera.ActiveStreams(), 0);
    EXPECT_TRUE(camera.AcquireStreamSlot());
}

TEST(Camera, GarbageOnTheWireGetsAnErrorNotACrash)
{
    Camera camera;
    ASSERT_TRUE(camera.Start());
    for (std::string garbage : {std::string("\x01\x02 nonsense\r\n\r\n"),
                                std::string("GET /img/query.cgi HTTP/9.9\r\n\r\n"),
                                std::string("POST /ocxparser.cgi HTTP/1.1\r\nHost: x\r\n"
                                            "Transfer-Encoding: chunked\r\n\r\nzz\r\n\r\n"),
                                std::string(20000, 'A') + "\r\n\r\n"}) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_GE(fd, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(uint16_t(camera.Port()));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ASSERT_EQ(::send(fd, garbage.data(), garbage.size(), MSG_NOSIGNAL), ssize_t(garbage.size()));
        char reply[64] = {};
        ssize_t n = ::recv(fd, reply, sizeof reply - 1, 0);
        ::close(fd);
        ASSERT_GT(n, 0);
        EXPECT_EQ(std::string(reply).rfind("HTTP/1.1 4", 0), 0u) << reply;
    }
    EXPECT_EQ(Fetch(camera.BaseUrl() + "img/query.cgi").status, 200);
}
