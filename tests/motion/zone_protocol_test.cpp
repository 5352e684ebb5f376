#include "motion/zone_protocol.h"

#include "camsim/camera.h"

#include <gtest/gtest.h>

namespace {

class ZoneProtocolTest : public ::testing::Test
{
protected:
    void Start(camsim::Config config = {})
    {
        camera = std::make_unique<camsim::Camera>(config);
        ASSERT_TRUE(camera->Start());
        url = camera->BaseUrl() + "ocxparser.cgi";
    }
    std::string LastBody() const
    {
        auto requests = camera->Requests();
        return requests.empty() ? std::string() : requests.back().body;
    }

    std::unique_ptr<camsim::Camera> camera;
    std::string url;
};

MotionAreaConfig Sample()
{
    MotionAreaConfig c;
    c.resolution = 3;
    for (int n = 0; n < 4; ++n)
        c.zones[size_t(n)] = ZoneSettings{n % 2, 10 + n, n + 1, 77, 10 * n, 20 * n, 640, 480};
    return c;
}

} // namespace

TEST(ZoneReply, ValuesAreReadAsAtoiReadsThemFirstKeyWins)
{
    std::string v = "kept";
    EXPECT_EQ(ExtractValue("RES: 4", "RES: ", v), 0); // no CR
    EXPECT_EQ(v, "kept");
    EXPECT_EQ(ExtractValue("xRES: 4\r\n", "RES: ", v), 1);
    EXPECT_EQ(v, "4");

    MotionAreaConfig c;
    c.zones[1].level = 9;
    ParseZoneReply("RES: 5\r\nAREA0X1: 12abc\r\nAREA0Y1: -5\r\nAREA0X2: 7\r\nAREA0X2: 99\r\n"
                   "AREA1EN:  42\r\nAREA3Y2: \r\n",
                   c);
    EXPECT_EQ(c.resolution, 5);
    EXPECT_EQ(c.zones[0].x1, 12);
    EXPECT_EQ(c.zones[0].y1, -5);
    EXPECT_EQ(c.zones[0].x2, 7);
    EXPECT_EQ(c.zones[1].enable, 42);
    EXPECT_EQ(c.zones[1].level, 9); // not part of the protocol
    // A missing key reads the buffer the previous key left, as one buffer serves all keys.
    EXPECT_EQ(c.zones[0].y2, 7);
    EXPECT_EQ(c.zones[3].y2, 0);
}

TEST(ZoneReply, SaveBodiesByteForByteWithTheResolutionConversions)
{
    MotionAreaConfig c; // four disabled zones still send all 28 lines
    const std::string empty = ZoneSaveBody(c, 3);
    EXPECT_EQ(empty.rfind("COMMAND: MOT_SAVE_AREA\r\nRES: 3\r\nAREA0EN: 0\r\nAREA0THD: 0\r\n", 0), 0u);
    EXPECT_EQ(std::count(empty.begin(), empty.end(), '\n'), 1 + 1 + 28 + 1);
    EXPECT_EQ(empty.substr(empty.size() - 14), "AREA3Y2: 0\r\n\r\n");

    const MotionAreaConfig s = Sample();
    const std::string three = ZoneSaveBody(s, 3);
    EXPECT_NE(three.find("AREA0X2: 640\r\n"), std::string::npos);
    EXPECT_NE(three.find("AREA2Y1: 40\r\n"), std::string::npos);
    const std::string four = ZoneSaveBody(s, 4);
    EXPECT_NE(four.find("RES: 3\r\n"), std::string::npos);
    EXPECT_NE(four.find("AREA0X2: 581\r\n"), std::string::npos);
    EXPECT_NE(four.find("AREA0Y2: 480\r\n"), std::string::npos);
    EXPECT_NE(four.find("AREA3X1: 27\r\n"), std::string::npos); // 30 x 0.9090909 = 27.27
    const std::string five = ZoneSaveBody(s, 5);
    EXPECT_NE(five.find("AREA0Y2: 512\r\n"), std::string::npos);
    EXPECT_NE(five.find("AREA0X2: 640\r\n"), std::string::npos);
    EXPECT_NE(five.find("AREA3Y1: 64\r\n"), std::string::npos); // 60 x 1.0666667
}

TEST_F(ZoneProtocolTest, ReadSaveAndReleaseAgainstTheCamera)
{
    Start();
    CZoneProtocol protocol(url);
    MotionAreaConfig read;
    ASSERT_EQ(protocol.Read(read, nullptr), ZoneOutcome::Ok);
    EXPECT_EQ(LastBody(), std::string(kZoneReadBody));
    EXPECT_EQ(LastBody().size(), 26u);
    EXPECT_EQ(read.resolution, 3);
    EXPECT_EQ(read.zones[1].x1, camera->Zones().zones[1].x1);

    MotionAreaConfig changed = Sample();
    ASSERT_EQ(protocol.Save(ZoneSaveBody(changed, protocol.LastReadResolution())), ZoneOutcome::Ok);
    EXPECT_EQ(camera->Zones().zones[2].x1, 20);
    EXPECT_EQ(camera->Zones().zones[3].threshold, 13);
    MotionAreaConfig again;
    ASSERT_EQ(protocol.Read(again, nullptr), ZoneOutcome::Ok);
    EXPECT_EQ(again.zones[3].y1, 60);

    EXPECT_EQ(protocol.Release(), ZoneOutcome::Ok);
    EXPECT_EQ(LastBody(), std::string(kZoneFreeBody));
    EXPECT_EQ(LastBody().size(), 25u);
    // A save the camera does not confirm is no failure of the request.
    EXPECT_EQ(protocol.Save("COMMAND: MOT_SAVE_AREA\r\n\r\n"), ZoneOutcome::NotConfirmed);
}

TEST_F(ZoneProtocolTest, LoginPromptsAtMostThreeTimesAndBusyAndDeadCameras)
{
    camsim::Config config;
    config.user = "admin";
    config.password = "zone";
    Start(config);
    int prompts = 0;
    CZoneProtocol refused(url);
    MotionAreaConfig c;
    EXPECT_EQ(refused.Read(c, [&](std::string& u, std::string& p) {
                  ++prompts;
                  u = "admin";
                  p = "wrong";
                  return true;
              }),
              ZoneOutcome::Refused);
    EXPECT_EQ(prompts, 3);

    prompts = 0;
    EXPECT_EQ(CZoneProtocol(url).Read(c, [&](std::string&, std::string&) { return ++prompts, false; }),
              ZoneOutcome::Refused);
    EXPECT_EQ(prompts, 1);

    CZoneProtocol accepted(url);
    EXPECT_EQ(accepted.Read(c, [&](std::string& u, std::string& p) {
                  u = "admin";
                  p = "zone";
                  return true;
              }),
              ZoneOutcome::Ok);
    EXPECT_EQ(accepted.User(), "admin");
    EXPECT_EQ(accepted.Release(), ZoneOutcome::Ok); // later commands carry the credentials

    camsim::Config busy;
    busy.zoneRead403 = true;
    Start(busy);
    EXPECT_EQ(CZoneProtocol(url).Read(c, nullptr), ZoneOutcome::Busy);
    camera->Stop();
    EXPECT_EQ(CZoneProtocol(url).Read(c, nullptr), ZoneOutcome::ConnectFailed);
    EXPECT_EQ(CZoneProtocol(url).Release(), ZoneOutcome::ConnectFailed);
}

TEST_F(ZoneProtocolTest, ReleaseGoesOnceMoreOnlyWhenTheCameraDidNotConfirm)
{
    Start();
    const auto releases = [&] {
        int n = 0;
        for (const auto& r : camera->Requests())
            n += r.body == kZoneFreeBody;
        return n;
    };
    EXPECT_EQ(CZoneProtocol(url).Release(), ZoneOutcome::Ok);
    EXPECT_EQ(releases(), 1);
    camera->SetFault("ocxparser.cgi", camsim::Fault{0, false, -1, 200, {}, 2});
    EXPECT_EQ(CZoneProtocol(url).Release(), ZoneOutcome::Ok);
    EXPECT_EQ(releases(), 3);
}
