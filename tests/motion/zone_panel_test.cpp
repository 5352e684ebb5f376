// The motion-zone control against the simulated camera, off-screen: reading the zones, the live
// video behind them, the one-live-panel rule, the busy stream, logins, saves and the release.

#include "motion/mozon_ctrl.h"
#include "motion/zone_module.h"
#include "motion/zone_strings.h"

#include "camsim/camera.h"
#include "tests/motion/zone_test_support.h"
#include "tests/viewer/qt_env.h"
#include "viewer/authorization_dlg.h"
#include "viewer/picture_ctrl.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using testsupport::PumpUntil;

void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

ZoneTimings Fast()
{
    return testsupport::FastZoneTimings();
}

camsim::Zone Zone(int enable, int x1, int y1, int x2, int y2, int threshold = 128)
{
    return testsupport::MakeZone(enable, x1, y1, x2, y2, threshold);
}

class ZonePanelTest : public ::testing::Test
{
protected:
    void SetUp() override { testsupport::TestApp(); }
    void TearDown() override
    {
        controls.clear();
        // Every test leaves the process without live video.
        EXPECT_FALSE(CZoneModule::Get().live.load());
        EXPECT_TRUE(CZoneModule::Get().Player().Finished());
    }

    camsim::Camera& StartCamera(camsim::Config config = {}, camsim::ZoneConfig zones = {})
    {
        auto& cam = cameras.emplace_back(std::make_unique<camsim::Camera>(config));
        EXPECT_TRUE(cam->Start());
        cam->SetZones(zones);
        return *cam;
    }
    static std::string Base(const camsim::Camera& cam)
    {
        std::string url = cam.BaseUrl();
        url.pop_back(); // no trailing slash
        return url;
    }
    CMozonCtrl& MakeControl(bool show = true, const ZoneTimings& timings = Fast())
    {
        auto& ctl = controls.emplace_back(std::make_unique<CMozonCtrl>(nullptr, timings, hooks));
        if (show)
            ctl->show();
        return *ctl;
    }
    static int Count(const camsim::Camera& cam, const std::string& bodyStart)
    {
        int n = 0;
        for (const auto& r : cam.Requests())
            n += r.endpoint == "ocxparser.cgi" && r.body.rfind(bodyStart, 0) == 0;
        return n;
    }
    static int Streams(const camsim::Camera& cam)
    {
        int n = 0;
        for (const auto& r : cam.Requests())
            n += r.endpoint == "img/video.asf";
        return n;
    }
    static void PressEscape(QWidget& panel)
    {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&panel, &key);
    }
    static std::string LastSave(const camsim::Camera& cam)
    {
        std::string body;
        for (const auto& r : cam.Requests())
            if (r.body.rfind("COMMAND: MOT_SAVE_AREA", 0) == 0)
                body = r.body;
        return body;
    }
    static bool Decodes()
    {
        const uint64_t before = CZoneModule::Get().Painter().Decoded();
        return PumpUntil([&] { return CZoneModule::Get().Painter().Decoded() >= before + 3; });
    }
    // The message shown, which must be whole: its wrapped lines fit the line at the line's font.
    static QString Message(CMozonCtrl& ctl)
    {
        QLabel* line = ctl.Panel().MessageLine();
        if (!line || !line->isVisible())
            return QString();
        const QRect room = line->contentsRect();
        const QRect needed = QFontMetrics(line->font()).boundingRect(
            QRect(0, 0, room.width(), 10000), Qt::TextWordWrap, line->text());
        EXPECT_LE(needed.width(), room.width()) << line->text().toStdString();
        EXPECT_LE(needed.height(), room.height()) << line->text().toStdString();
        return line->text();
    }

    ZoneHooks hooks;
    std::vector<std::unique_ptr<camsim::Camera>> cameras;
    std::vector<std::unique_ptr<CMozonCtrl>> controls; // destroyed before the cameras
};

} // namespace

// First in the program: nothing has been painted in this process yet.
TEST_F(ZonePanelTest, BlackUntilTheFirstPictureThenLiveVideoWithTheCamerasZones)
{
    camsim::ZoneConfig zones = camsim::ZoneConfig::Defaults();
    zones.zones[0] = Zone(1, 100, 50, 300, 250);
    zones.zones[1] = Zone(0, 360, 40, 600, 200);
    zones.zones[2] = Zone(1, 10, 10, 40, 40);
    camsim::Camera& cam = StartCamera({}, zones);
    cam.SetZoneLevels({200, 7, 0, 0});

    CMozonCtrl& ctl = MakeControl();
    CZonePanel& panel = ctl.Panel();
    ASSERT_TRUE(panel.HasWindow());
    EXPECT_EQ(panel.grab().toImage().pixelColor(400, 200), QColor(Qt::black));
    EXPECT_EQ(panel.size(), QSize(810, 530));

    ASSERT_TRUE(ctl.SetSource(Base(cam), "jpeg", 1));
    EXPECT_EQ(panel.ConfigurationUrl(), Base(cam) + "/ocxparser.cgi");
    EXPECT_EQ(panel.StreamUrl(), Base(cam) + "/img/video.asf");
    EXPECT_TRUE(CZoneModule::Get().live.load());
    EXPECT_EQ(panel.Config().zones[0].x2, 300);
    EXPECT_EQ(panel.Config().zones[2].y2, 40);

    // Enabled zones get their frames at the read rectangle, within the size limits.
    ASSERT_TRUE(panel.ZoneWindow(1).Exists());
    EXPECT_EQ(panel.ZoneWindow(1).Window()->geometry(), QRect(270, 60, 200, 200));
    EXPECT_FALSE(panel.ZoneWindow(2).Exists());
    ASSERT_TRUE(panel.ZoneWindow(3).Exists());
    EXPECT_EQ(panel.ZoneWindow(3).Window()->geometry(), QRect(180, 20, 70, 90));
    EXPECT_TRUE(panel.SaveButton()->isVisible());
    EXPECT_TRUE(panel.EnableBox(1)->isVisible() && panel.EnableBox(1)->isChecked());
    EXPECT_FALSE(panel.EnableBox(3)->isVisible());
    EXPECT_FALSE(panel.SensitivitySlider(1)->isVisible());

    // A 320 x 240 stream: the cap for small pictures, and pictures stretched over the area.
    ASSERT_TRUE(PumpUntil([] { return CZoneModule::Get().Painter().Repaints() >= 2; }));
    EXPECT_EQ(CZoneModule::Get().VideoCap(), 18);
    EXPECT_EQ(CZoneModule::Get().Painter().DecodeFailures(), 0u);
    ASSERT_TRUE(PumpUntil([&] {
        const QImage shot = panel.grab().toImage();
        return shot.pixelColor(180, 480) != QColor(Qt::black) &&
               shot.pixelColor(800, 480) != QColor(Qt::black);
    }));

    // The meter: a level above the bar's range shows full; a zone without a frame shows none.
    ASSERT_TRUE(PumpUntil([&] { return panel.LevelBar(1)->value() == 99; }));
    EXPECT_EQ(panel.Config().zones[0].level, 200);
    EXPECT_EQ(panel.LevelBar(2)->value(), 0);
    EXPECT_TRUE(panel.MetersRunning());

    // One picture in three is repainted.
    const CZonePainter& painter = CZoneModule::Get().Painter();
    EXPECT_LE(painter.Repaints(), painter.Decoded() / 3 + 1);

    ctl.StopPlay();
    EXPECT_FALSE(panel.HasWindow());
    EXPECT_FALSE(panel.ZoneWindow(1).Exists());
    EXPECT_FALSE(CZoneModule::Get().live.load());
    EXPECT_TRUE(CZoneModule::Get().Player().Finished());
    EXPECT_EQ(Count(cam, "COMMAND: MOT_OCX_FREE\r\n\r\n"), 1);
    // The last picture stays for the next panel of the process.
    EXPECT_TRUE(painter.HavePicture());
}

TEST_F(ZonePanelTest, OnlyOnePanelOfTheProcessIsLive)
{
    camsim::Camera& cam = StartCamera({}, camsim::ZoneConfig::Defaults());
    // A panel whose read failed: its source is set, its video never started.
    CMozonCtrl& failed = MakeControl();
    ASSERT_TRUE(failed.SetSource("http://127.0.0.1:1", "", 1));
    EXPECT_EQ(Message(failed), LoadZoneString(kStrZoneConnectFailed));
    EXPECT_FALSE(CZoneModule::Get().live.load());

    CMozonCtrl& first = MakeControl();
    ASSERT_TRUE(first.SetSource(Base(cam), "", 1));
    ASSERT_TRUE(Decodes());

    // A panel made while another is live stays empty, and its source is refused.
    CMozonCtrl& second = MakeControl();
    EXPECT_FALSE(second.SetSource(Base(cam), "", 1));
    EXPECT_EQ(Message(second), LoadZoneString(kStrZoneConnectFailed));
    EXPECT_EQ(Count(cam, "COMMAND: MOT_READ_AREA"), 1);
    // So is a second source on the live control itself; its video goes on.
    EXPECT_FALSE(first.SetSource(Base(cam), "", 1));
    EXPECT_EQ(Message(first), LoadZoneString(kStrZoneConnectFailed));

    // Letting go of the failed panel leaves the live video alone.
    failed.StopPlay();
    EXPECT_TRUE(CZoneModule::Get().live.load());
    EXPECT_TRUE(Decodes());

    first.StopPlay();
    EXPECT_FALSE(CZoneModule::Get().live.load());
}

TEST_F(ZonePanelTest, SourceBeforeTheWindowConnectsWhenThePanelInitialises)
{
    camsim::Camera& cam = StartCamera({}, camsim::ZoneConfig::Defaults());
    CMozonCtrl& ctl = MakeControl(false);
    // Nothing to let go of before any source.
    ctl.StopPlay();
    EXPECT_TRUE(ctl.SetSource(Base(cam), "", 1));
    EXPECT_FALSE(ctl.Panel().HasWindow());
    EXPECT_EQ(Count(cam, "COMMAND: MOT_READ_AREA"), 0);
    ctl.show();
    EXPECT_EQ(Count(cam, "COMMAND: MOT_READ_AREA"), 1);
    EXPECT_TRUE(CZoneModule::Get().live.load());
    ASSERT_TRUE(Decodes());
    ctl.StopPlay();
}

TEST_F(ZonePanelTest, BusyStreamHidesThePanelAndANewSourceReadsAgain)
{
    camsim::Config config;
    config.maxUsers = 1;
    camsim::ZoneConfig zones = camsim::ZoneConfig::Defaults();
    zones.zones[0].enable = 1;
    camsim::Camera& cam = StartCamera(config, zones);
    auto slot = std::make_unique<camsim::Camera::StreamSlot>(cam.AcquireStreamSlot());
    ASSERT_TRUE(*slot);

    CMozonCtrl& ctl = MakeControl();
    CZonePanel& panel = ctl.Panel();
    ASSERT_TRUE(ctl.SetSource(Base(cam), "", 1));
    ASSERT_TRUE(PumpUntil([&] { return !Message(ctl).isEmpty(); }));
    EXPECT_EQ(Message(ctl), LoadZoneString(kStrZoneConnectFailed));
    EXPECT_FALSE(CZoneModule::Get().live.load());
    EXPECT_FALSE(panel.SaveButton()->isVisible());
    EXPECT_FALSE(panel.Background()->isVisible());
    EXPECT_FALSE(panel.EnableBox(1)->isVisible());
    EXPECT_FALSE(panel.ZoneWindow(1).Exists());
    EXPECT_EQ(Count(cam, "COMMAND: MOT_OCX_FREE"), 1);

    slot.reset();
    ASSERT_TRUE(ctl.SetSource(Base(cam), "", 1));
    EXPECT_EQ(Count(cam, "COMMAND: MOT_READ_AREA"), 2);
    EXPECT_TRUE(CZoneModule::Get().live.load());
    EXPECT_TRUE(panel.SaveButton()->isVisible());
    EXPECT_TRUE(Message(ctl).isEmpty());
    ASSERT_TRUE(Decodes());
    ctl.StopPlay();
}

TEST_F(ZonePanelTest, LoginOutcomesAndTheCredentialsThatStay)
{
    camsim::Config config;
    config.user = "admin";
    config.password = "s3cret";
    int prompts = 0;
    std::string typed;
    hooks.runLogin = [&](CAuthorizationDlg& dlg) {
        ++prompts;
        if (typed.empty())
            return false; // cancel
        dlg.findChild<QLineEdit*>("userNameEdit")->setText("admin");
        dlg.findChild<QLineEdit*>("passwordEdit")->setText(QString::fromStdString(typed));
        dlg.OnOk();
        return true;
    };

    camsim::Camera& cam = StartCamera(config, camsim::ZoneConfig::Defaults());
    typed = "wrong";
    CMozonCtrl& refused = MakeControl();
    EXPECT_TRUE(refused.SetSource(Base(cam), "", 1));
    EXPECT_EQ(prompts, 3);
    EXPECT_EQ(Message(refused), LoadZoneString(kStrZoneProtected));
    EXPECT_FALSE(CZoneModule::Get().live.load());
    EXPECT_FALSE(refused.Panel().MetersRunning());

    prompts = 0;
    typed.clear();
    CMozonCtrl& cancelled = MakeControl();
    EXPECT_TRUE(cancelled.SetSource(Base(cam), "", 1));
    EXPECT_EQ(prompts, 1);
    EXPECT_EQ(Message(cancelled), LoadZoneString(kStrZoneProtected));

    // A later source on the same control reads again. The right password: the read, the stream
    // and the save all go with it.
    prompts = 0;
    typed = "s3cret";
    CMozonCtrl& ctl = cancelled;
    EXPECT_TRUE(ctl.SetSource(Base(cam), "", 1));
    EXPECT_EQ(prompts, 1);
    EXPECT_TRUE(CZoneModule::Get().live.load());
    EXPECT_TRUE(Message(ctl).isEmpty());
    ASSERT_TRUE(Decodes());
    ctl.Panel().EnableBox(1)->click();
    ctl.Panel().SaveButton()->click();
    EXPECT_EQ(cam.Zones().zones[0].enable, 1);
    EXPECT_EQ(prompts, 1);
    ctl.StopPlay();

    camsim::Config busy;
    busy.zoneRead403 = true;
    camsim::Camera& refusing = StartCamera(busy, camsim::ZoneConfig::Defaults());
    CMozonCtrl& turnedAway = MakeControl();
    EXPECT_TRUE(turnedAway.SetSource(Base(refusing), "", 1));
    EXPECT_EQ(Message(turnedAway), LoadZoneString(kStrZoneBusy));
    EXPECT_FALSE(CZoneModule::Get().live.load());
}

TEST_F(ZonePanelTest, SaveSendsTheEditedZonesAndRestartsTheVideo)
{
    camsim::ZoneConfig zones = camsim::ZoneConfig::Defaults();
    zones.zones[0] = Zone(1, 100, 50, 300, 250, 40);
    zones.zones[1] = Zone(1, 360, 40, 600, 200, 50);
    zones.zones[2] = Zone(0, 1, 2, 3, 4, 60); // disabled: saved as read
    camsim::Camera& cam = StartCamera({}, zones);
    CMozonCtrl& ctl = MakeControl();
    CZonePanel& panel = ctl.Panel();
    ASSERT_TRUE(ctl.SetSource(Base(cam), "", 1));
    ASSERT_TRUE(Decodes());

    // Zone 2 dragged past the right edge slides along it; zone 1's threshold changed.
    panel.ZoneWindow(2).Window()->MoveTo(QPoint(700, 100));
    EXPECT_EQ(panel.ZoneWindow(2).Window()->geometry(), QRect(570, 100, 240, 160));
    panel.ThresholdSlider(1)->setValue(99);
    panel.SaveButton()->click();

    const std::string body = LastSave(cam);
    EXPECT_EQ(body.rfind("COMMAND: MOT_SAVE_AREA\r\nRES: 3\r\nAREA0EN: 1\r\nAREA0THD: 99\r\n", 0),
              0u)
        << body;
    EXPECT_NE(body.find("AREA0X1: 100\r\nAREA0Y1: 50\r\nAREA0X2: 300\r\nAREA0Y2: 250\r\n"),
              std::string::npos);
    EXPECT_NE(body.find("AREA1X1: 400\r\nAREA1Y1: 90\r\nAREA1X2: 640\r\nAREA1Y2: 250\r\n"),
              std::string::npos);
    EXPECT_NE(body.find("AREA2EN: 0\r\nAREA2THD: 60\r\n"), std::string::npos);
    const std::string end = "AREA3Y2: 440\r\n\r\n";
    EXPECT_EQ(body.compare(body.size() - end.size(), end.size(), end), 0) << body;
    EXPECT_EQ(cam.Zones().zones[1].x1, 400);

    // Confirmed: the video runs again.
    EXPECT_TRUE(CZoneModule::Get().live.load());
    ASSERT_TRUE(Decodes());

    // A camera that does not confirm leaves the video halted without a message.
    cam.SetFault("ocxparser.cgi", camsim::Fault{0, false, -1, 200, {}, 2});
    panel.SaveButton()->click();
    EXPECT_FALSE(CZoneModule::Get().live.load());
    EXPECT_TRUE(Message(ctl).isEmpty());
    // A camera that went away shows that it cannot be reached.
    cam.Stop();
    panel.SaveButton()->click();
    EXPECT_EQ(Message(ctl), LoadZoneString(kStrZoneConnectFailed));
    EXPECT_FALSE(CZoneModule::Get().live.load());
    ctl.StopPlay();
}

TEST_F(ZonePanelTest, ClosingTheWindowEndsASaveTheCameraNeverAnswers)
{
    camsim::Camera& cam = StartCamera({}, camsim::ZoneConfig::Defaults());
    CMozonCtrl& ctl = MakeControl();
    ASSERT_TRUE(ctl.SetSource(Base(cam), "", 1));
    ASSERT_TRUE(Decodes());
    camsim::Fault hang;
    hang.hang = true;
    cam.SetFault("ocxparser.cgi", hang);
    bool inSave = true;
    bool closedInSave = false;
    QTimer::singleShot(100, [&] {
        closedInSave = inSave;
        ctl.close();
    });
    ctl.Panel().SaveButton()->click();
    inSave = false;
    EXPECT_TRUE(closedInSave);
    EXPECT_FALSE(ctl.isVisible());
    EXPECT_FALSE(CZoneModule::Get().live.load());

    // The close gave up that save only: the page's StopPlay still lets the camera go.
    cam.ClearFaults();
    ctl.StopPlay();
    EXPECT_EQ(Count(cam, "COMMAND: MOT_OCX_FREE"), 1);
}

TEST_F(ZonePanelTest, SaveKeepsEveryValueTheUserLeftAlone)
{
    // Zones 3 and 4 have no controls the user sees; zone 2 holds values beyond its sliders.
    camsim::ZoneConfig zones = camsim::ZoneConfig::Defaults();
    zones.zones[0] = Zone(1, 100, 50, 300, 250, 200);
    zones.zones[1] = Zone(1, 360, 40, 600, 200, 300);
    zones.zones[1].sensitivity = 12;
    zones.zones[2] = Zone(1, 10, 100, 200, 300, 250);
    zones.zones[2].sensitivity = 9;
    zones.zones[3] = Zone(1, 300, 300, 500, 450, -4);
    zones.zones[3].sensitivity = 0;
    camsim::Camera& cam = StartCamera({}, zones);

    // The panel's window first appears while another control is live; it goes live later.
    CMozonCtrl& first = MakeControl();
    ASSERT_TRUE(first.SetSource(Base(cam), "", 1));
    CMozonCtrl& late = MakeControl();
    first.StopPlay();
    ASSERT_TRUE(late.SetSource(Base(cam), "", 1));
    CZonePanel& panel = late.Panel();
    EXPECT_EQ(panel.EnableBox(1)->geometry(), QRect(12, 39, 15, 15));
    EXPECT_EQ(panel.ThresholdSlider(2)->geometry(), QRect(73, 153, 75, 14));
    EXPECT_EQ(panel.SaveButton()->geometry(), QRect(40, 220, 75, 20));

    panel.SaveButton()->click();
    EXPECT_EQ(cam.Zones().zones, zones.zones);
    // What the user does change is taken, also where the camera's value lay beyond the slider.
    panel.ThresholdSlider(2)->setValue(10);
    panel.SaveButton()->click();
    zones.zones[1].threshold = 10;
    EXPECT_EQ(cam.Zones().zones, zones.zones);
    late.StopPlay();
}

TEST_F(ZonePanelTest, NoRestartWhileTheOldWorkerStillStopsAndEscapeReadsAgainAndRestarts)
{
    camsim::ZoneConfig zones = camsim::ZoneConfig::Defaults();
    zones.zones[0].enable = 1;
    camsim::Camera& cam = StartCamera({}, zones);
    ZoneTimings slowStop = Fast();
    slowStop.stopTimeoutMs = 1; // the halt gives up at once, while the worker winds down
    slowStop.asf.stopSleep = std::chrono::milliseconds(300);
    CMozonCtrl& ctl = MakeControl(true, slowStop);
    CZonePanel& panel = ctl.Panel();
    ASSERT_TRUE(ctl.SetSource(Base(cam), "", 1));
    ASSERT_TRUE(Decodes());

    panel.HaltStream();
    panel.StartLive();
    EXPECT_FALSE(CZoneModule::Get().live.load());
    ASSERT_TRUE(PumpUntil([] { return CZoneModule::Get().Player().Finished(); }));
    EXPECT_EQ(Streams(cam), 1);

    // Escape reads again and restarts the halted video...
    PressEscape(panel);
    EXPECT_EQ(Count(cam, "COMMAND: MOT_READ_AREA"), 2);
    EXPECT_TRUE(CZoneModule::Get().live.load());
    ASSERT_TRUE(Decodes());
    EXPECT_EQ(Streams(cam), 2);
    // ...and leaves a running one alone.
    PressEscape(panel);
    EXPECT_EQ(Count(cam, "COMMAND: MOT_READ_AREA"), 3);
    EXPECT_TRUE(CZoneModule::Get().live.load());
    EXPECT_TRUE(Decodes());
    EXPECT_EQ(Streams(cam), 2);

    ctl.StopPlay();
    ASSERT_TRUE(PumpUntil([] { return CZoneModule::Get().Player().Finished(); }));
}

TEST_F(ZonePanelTest, DestroyingTheLiveControlHandsTheVideoToTheNext)
{
    camsim::Camera& cam = StartCamera({}, camsim::ZoneConfig::Defaults());
    auto live = std::make_unique<CMozonCtrl>(nullptr, Fast(), hooks);
    live->show();
    ASSERT_TRUE(live->SetSource(Base(cam), "", 1));
    ASSERT_TRUE(Decodes());
    CMozonCtrl& next = MakeControl(); // stays empty while the other is live
    live.reset();
    EXPECT_FALSE(CZoneModule::Get().live.load());
    EXPECT_TRUE(CZoneModule::Get().Player().Finished());

    int pictures = 0;
    QObject::connect(&next.Panel(), &CZonePanel::MessageHandled,
                     [&](uint32_t message, uintptr_t) { pictures += message == WM_ZONE_PICTURE; });
    ASSERT_TRUE(next.SetSource(Base(cam), "", 1));
    EXPECT_TRUE(CZoneModule::Get().live.load());
    EXPECT_TRUE(PumpUntil([&] { return pictures >= 2; }));
    next.StopPlay();
}

TEST_F(ZonePanelTest, A640By480StreamIsPaintedOneToOne)
{
    camsim::Config config;
    config.asfSize = "640x480";
    camsim::Camera& cam = StartCamera(config, camsim::ZoneConfig::Defaults());
    CMozonCtrl& ctl = MakeControl();
    CZonePanel& panel = ctl.Panel();
    ASSERT_TRUE(ctl.SetSource(Base(cam), "", 1));
    ASSERT_TRUE(Decodes());
    // Halted, the last picture stays and stops changing.
    panel.HaltStream();
    QImage expected;
    CZoneModule::Get().Painter().WithPicture([&](const uint8_t* rgb, int width, int height) {
        expected = QImage(rgb, width, height, width * 3, QImage::Format_BGR888)
                       .mirrored()
                       .convertToFormat(QImage::Format_RGB32);
    });
    ASSERT_EQ(expected.size(), QSize(640, 480));
    const QImage shown =
        panel.grab(CZonePanel::kPictureArea).toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(shown == expected);
    ctl.StopPlay();
}

TEST_F(ZonePanelTest, SavedCoordinatesFollowTheLastReadResolutionCode)
{
    for (const int code : {4, 5}) {
        camsim::Config config;
        config.zoneResolution = code;
        camsim::ZoneConfig zones = camsim::ZoneConfig::Defaults();
        zones.zones[0] = Zone(1, 0, 0, 640, 480);
        camsim::Camera& cam = StartCamera(config, zones);
        CMozonCtrl& ctl = MakeControl();
        ASSERT_TRUE(ctl.SetSource(Base(cam), "", 1));
        EXPECT_EQ(ctl.Panel().LastReadResolution(), code);
        ctl.Panel().SaveButton()->click();
        const std::string body = LastSave(cam);
        EXPECT_NE(body.find("RES: 3\r\n"), std::string::npos);
        if (code == 4)
            EXPECT_NE(body.find("AREA0X1: 0\r\nAREA0Y1: 0\r\nAREA0X2: 581\r\nAREA0Y2: 480\r\n"),
                      std::string::npos)
                << body;
        else
            EXPECT_NE(body.find("AREA0X1: 0\r\nAREA0Y1: 0\r\nAREA0X2: 640\r\nAREA0Y2: 512\r\n"),
                      std::string::npos)
                << body;
        // The panel keeps the unconverted rectangle.
        EXPECT_EQ(ctl.Panel().Config().zones[0].x2, 640);
        ctl.StopPlay();
    }
}

TEST_F(ZonePanelTest, PicturesLargerThanTheBufferAreSkipped)
{
    camsim::Config config;
    config.asfSize = "704x480";
    camsim::Camera& cam = StartCamera(config, camsim::ZoneConfig::Defaults());
    const CZonePainter& painter = CZoneModule::Get().Painter();
    const uint64_t decoded = painter.Decoded();
    const uint64_t refused = painter.Skipped() + painter.DecodeFailures();
    CMozonCtrl& ctl = MakeControl();
    ASSERT_TRUE(ctl.SetSource(Base(cam), "", 1));
    ASSERT_TRUE(PumpUntil([&] { return painter.Skipped() + painter.DecodeFailures() >= refused + 5; }));
    EXPECT_EQ(painter.Decoded(), decoded);
    ctl.StopPlay();
}
