// The camera wall offscreen, with the real viewer controls on the simulated camera; and what the
// wall works out without widgets.

#include "camsim/camera.h"
#include "host/camera_address.h"
#include "host/control_host.h"
#include "host/wall_plan.h"
#include "host/wall_window.h"
#include "platform/settings.h"

#include <QApplication>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

using namespace host;

namespace {

WallSettings Settings(const std::string& url, int cameras)
{
    WallSettings s;
    for (int i = 0; i < cameras; ++i) {
        CameraAddress a;
        std::string why;
        EXPECT_TRUE(ViewerAddress(url, "mpeg", a, why)) << why;
        s.cameras.push_back(a);
    }
    s.offscreen = true;
    s.retry = std::chrono::milliseconds(300);
    s.tick = std::chrono::milliseconds(50);
    return s;
}

bool AllPlaying(const WallWindow& w)
{
    for (int i = 0; i < w.Count(); ++i)
        if (w.Cell(i)->CurrentStatus().phase != Phase::Playing)
            return false;
    return true;
}

// Which cameras' controls have their sound on.
std::vector<bool> Sound(const WallWindow& w)
{
    std::vector<bool> on;
    for (int i = 0; i < w.Count(); ++i)
        on.push_back(w.Cell(i)->PlaysAudio());
    return on;
}

void ExpectTiled(const WallWindow& w)
{
    const QRect area = w.centralWidget()->rect();
    for (int i = 0; i < w.Count(); ++i) {
        const QRect r = w.Cell(i)->geometry();
        EXPECT_TRUE(w.Cell(i)->isVisible()) << i;
        EXPECT_TRUE(area.contains(r)) << i;
        EXPECT_GE(r.width() * r.height() * w.Count(), area.width() * area.height() / 2) << i;
        for (int k = 0; k < i; ++k)
            EXPECT_FALSE(r.intersects(w.Cell(k)->geometry())) << i << " overlaps " << k;
    }
}

// Below the panel's buttons: a click there does nothing in the control itself.
const QPoint kBackground(60, 200);

} // namespace

TEST(Wall, EachCameraPlaysInItsPlaceOnlyTheLastClickedIsHeardAndADoubleClickShowsItAlone)
{
    camsim::Config config;
    config.asfSize = "160x120";
    camsim::Camera camera(config);
    ASSERT_TRUE(camera.Start());
    const platform::SettingsStore store(platform::SettingsStore::DefaultPath());
    WallWindow wall(store, Settings(camera.BaseUrl(), 3), nullptr);
    wall.resize(900, 600);
    wall.show();
    wall.Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return AllPlaying(wall); }, 20000));
    EXPECT_EQ(camera.RunningEncoders(), 1);
    ExpectTiled(wall);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Sound(wall) == std::vector<bool>{true, false, false}; }));

    QTest::mouseClick(wall.Cell(2)->Control()->Widget(), Qt::LeftButton, {}, kBackground);
    EXPECT_EQ(wall.Audible(), 2);
    EXPECT_EQ(Sound(wall), (std::vector<bool>{false, false, true}));
    // A control turns its sound on again after each answered image query (a reload's).
    wall.Cell(0)->Control()->Call("SetSource", {wall.Cell(0)->Address().controlUrl,
                                                std::string("mpeg"), std::string("on"),
                                                std::string(), 0L, 0L});
    EXPECT_TRUE(QTest::qWaitFor([&] { return Sound(wall) == std::vector<bool>{false, false, true}; }));

    QTest::mouseDClick(wall.Cell(1)->Control()->Widget(), Qt::LeftButton, {}, kBackground);
    EXPECT_EQ(wall.Solo(), 1);
    EXPECT_FALSE(wall.Cell(0)->isVisible());
    EXPECT_FALSE(wall.Cell(2)->isVisible());
    EXPECT_EQ(wall.Cell(1)->geometry(), wall.centralWidget()->rect());
    EXPECT_EQ(Sound(wall), (std::vector<bool>{false, true, false}));
    QTest::mouseDClick(wall.Cell(1)->Control()->Widget(), Qt::LeftButton, {}, kBackground);
    EXPECT_EQ(wall.Solo(), -1);
    ExpectTiled(wall);

    wall.resize(1400, 300);
    QTest::qWait(300);
    ExpectTiled(wall);
    EXPECT_EQ(wall.Cell(2)->geometry().top(), 0) << "a wide window takes the cameras in a row";
    EXPECT_EQ(wall.ExitCodeNow(), 0);
    wall.Finish();
}

TEST(WallPlan, UrlListsAndGrids)
{
    std::istringstream list("# cameras\n\n  http://a/  \nhttp://b/img/video.asf\n# http://c/\n");
    std::vector<std::string> urls;
    std::string why;
    ASSERT_TRUE(ReadUrlList(list, urls, why));
    EXPECT_EQ(urls, (std::vector<std::string>{"http://a/", "http://b/img/video.asf"}));
    std::istringstream two("http://a/\nhttp://b/ http://c/\n");
    EXPECT_FALSE(ReadUrlList(two, urls, why));
    EXPECT_NE(why.find("line 2"), std::string::npos);

    struct Case
    {
        int count, width, height, columns, rows;
    } cases[] = {
        {1, 800, 600, 1, 1},   {4, 1600, 1000, 2, 2}, {4, 3200, 500, 4, 1},
        {4, 400, 2000, 1, 4},  {32, 1920, 1080, 6, 6}, {32, 3840, 1080, 8, 4},
    };
    for (const Case& c : cases) {
        const WallGrid g = FitGrid(c.count, c.width, c.height, 1.57);
        EXPECT_EQ(g.columns, c.columns) << c.count << " in " << c.width << "x" << c.height;
        EXPECT_EQ(g.rows, c.rows) << c.count << " in " << c.width << "x" << c.height;
    }
    EXPECT_EQ(RankOnServer({"http://A:81/", "http://a:81/x/", "http://a:82/", "https://a:81/",
                            "http://a:81/"}),
              (std::vector<int>{0, 1, 0, 0, 2}));
}

int main(int argc, char** argv)
{
    char dir[] = "/tmp/wall-window-XXXXXX";
    if (!::mkdtemp(dir))
        return 1;
    const auto store = std::filesystem::path(dir) / "settings.reg";
    ::setenv("CAMCTL_SETTINGS", store.c_str(), 1);
    ::setenv("HOME", dir, 1);
    ::setenv("CAMCTL_SOUND", "virtual", 1);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int status = 1;
    {
        QApplication app(argc, argv);
        std::string error;
        auto file = host::ModuleFile::Open(VUELO_MODULE, error);
        if (!file || component::Failed(file->Register())) {
            std::fprintf(stderr, "%s: %s\n", VUELO_MODULE, error.c_str());
            return 1;
        }
        testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return status;
}
