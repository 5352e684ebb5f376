// The zone editor as a user works it, off-screen against the simulated camera: frames dragged by
// their caption and sized by their border with mouse events, the enable boxes, the meter, saving.

#include "motion/mozon_ctrl.h"
#include "motion/zone_module.h"

#include "camsim/camera.h"
#include "tests/motion/zone_test_support.h"
#include "tests/viewer/qt_env.h"
#include "viewer/picture_ctrl.h"
#include "viewer/resources.h"

#include <QApplication>
#include <QCheckBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <memory>

using testsupport::PumpUntil;

namespace {

ZoneTimings Fast()
{
    return testsupport::FastZoneTimings();
}

camsim::Zone Zone(int enable, int x1, int y1, int x2, int y2)
{
    return testsupport::MakeZone(enable, x1, y1, x2, y2, 40);
}

// A left-button drag from `from` to `to`, both in the widget's coordinates, as the window system
// delivers it: press, a few moves with the button held, release.
void Drag(QWidget* w, QPoint from, QPoint to)
{
    // The pointer's screen position does not follow the widget as it moves.
    const QPoint origin = w->mapToGlobal(QPoint(0, 0));
    auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
        const QPoint global = origin + at;
        QMouseEvent e(type, QPointF(w->mapFromGlobal(global)), QPointF(global), button, held,
                      Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    };
    send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    for (int step = 1; step <= 4; ++step)
        send(QEvent::MouseMove, from + (to - from) * step / 4, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

class ZoneEditorTest : public ::testing::Test
{
protected:
    void SetUp() override { testsupport::TestApp(); }
    void TearDown() override
    {
        ctl.reset();
        camera.reset();
    }
    CZonePanel& Open(camsim::ZoneConfig zones)
    {
        camera = std::make_unique<camsim::Camera>(camsim::Config{});
        EXPECT_TRUE(camera->Start());
        camera->SetZones(zones);
        ctl = std::make_unique<CMozonCtrl>(nullptr, Fast());
        ctl->show();
        std::string base = camera->BaseUrl();
        base.pop_back();
        EXPECT_TRUE(ctl->SetSource(base, "", 1));
        return ctl->Panel();
    }
    camsim::Zone Saved(int n) const { return camera->Zones().zones[size_t(n - 1)]; }

    std::unique_ptr<camsim::Camera> camera;
    std::unique_ptr<CMozonCtrl> ctl;
};

} // namespace

TEST_F(ZoneEditorTest, PlacedFramesSaveBackTheirRectanglesWithinTheLimits)
{
    camsim::ZoneConfig zones = camsim::ZoneConfig::Defaults();
    zones.zones[0] = Zone(1, 100, 50, 300, 250);
    zones.zones[1] = Zone(1, 10, 10, 40, 40);
    zones.zones[2] = Zone(1, 500, 400, 700, 600); // reaches outside the picture
    CZonePanel& panel = Open(zones);
    EXPECT_EQ(panel.ZoneWindow(1).Window()->geometry(), QRect(270, 60, 200, 200));
    EXPECT_EQ(panel.ZoneWindow(2).Window()->geometry(), QRect(180, 20, 70, 90));
    EXPECT_TRUE(panel.ZoneWindow(3).Window()->isVisible()); // no enable box, still shown
    // The frame's inside is cut out so the picture shows and clicks reach the panel.
    const QWidget* frame = panel.ZoneWindow(1).Window();
    EXPECT_TRUE(frame->mask().contains(QPoint(1, 1)));
    EXPECT_TRUE(frame->mask().contains(QPoint(198, 198)));
    EXPECT_FALSE(frame->mask().contains(QPoint(100, 100)));
    EXPECT_EQ(panel.childAt(370, 160), nullptr);
    EXPECT_EQ(panel.Background()->Image().size(), QSize(kZoneBackgroundWidth, kZoneBackgroundHeight));

    panel.SaveButton()->click();
    const auto z1 = Saved(1), z2 = Saved(2), z3 = Saved(3);
    EXPECT_EQ(std::vector<int>({z1.x1, z1.y1, z1.x2, z1.y2}), std::vector<int>({100, 50, 300, 250}));
    EXPECT_EQ(std::vector<int>({z2.x1, z2.y1, z2.x2, z2.y2}), std::vector<int>({10, 10, 80, 100}));
    EXPECT_EQ(std::vector<int>({z3.x1, z3.y1, z3.x2, z3.y2}), std::vector<int>({500, 400, 640, 480}));
    ctl->StopPlay();
}

TEST_F(ZoneEditorTest, MouseDragsSlideAlongThePictureAndBordersStopAtItsEdges)
{
    camsim::ZoneConfig zones = camsim::ZoneConfig::Defaults();
    zones.zones[0] = Zone(1, 100, 50, 300, 250);
    CZonePanel& panel = Open(zones);
    QWidget* frame = panel.ZoneWindow(1).Window();
    const QPoint caption(60, 8);

    // Past the right edge: it touches the edge and keeps its size.
    Drag(frame, caption, caption + QPoint(500, 0));
    EXPECT_EQ(frame->geometry(), QRect(610, 60, 200, 200));
    // Past the top-left corner: it sits in the corner.
    Drag(frame, caption, caption - QPoint(900, 300));
    EXPECT_EQ(frame->geometry(), QRect(170, 10, 200, 200));
    // The bottom border dragged below the picture stops at its bottom.
    Drag(frame, QPoint(100, frame->height() - 2), QPoint(100, frame->height() - 2 + 600));
    EXPECT_EQ(frame->geometry(), QRect(170, 10, 200, 480));
    // The right border dragged in stops at the minimum width.
    Drag(frame, QPoint(frame->width() - 2, 200), QPoint(frame->width() - 2 - 300, 200));
    EXPECT_EQ(frame->geometry(), QRect(170, 10, 70, 480));
    // A move within the picture is taken as it is.
    Drag(frame, caption, caption + QPoint(100, 0));
    EXPECT_EQ(frame->geometry(), QRect(270, 10, 70, 480));

    panel.SaveButton()->click();
    const auto z = Saved(1);
    EXPECT_EQ(std::vector<int>({z.x1, z.y1, z.x2, z.y2}), std::vector<int>({100, 0, 170, 480}));
    ctl->StopPlay();
}

TEST_F(ZoneEditorTest, EnableBoxesHideAndShowFramesAndTheMeterFollowsTheCamera)
{
    camsim::ZoneConfig zones = camsim::ZoneConfig::Defaults();
    // The scene's ball crosses the top right; the bottom left stays still.
    zones.zones[0] = Zone(1, 0, 0, 640, 480);
    zones.zones[1] = Zone(0, 0, 0, 100, 100);
    CZonePanel& panel = Open(zones);
    ASSERT_TRUE(PumpUntil([&] { return panel.LevelBar(1)->value() > 0; }));
    // Zone 2 has never been shown: its bar stays empty while its timer runs.
    EXPECT_EQ(panel.LevelBar(2)->value(), 0);
    EXPECT_FALSE(panel.ZoneWindow(2).Exists());

    // Moved by the user, then unticked: hidden and its bar empty; ticked: where it was left.
    QWidget* frame = panel.ZoneWindow(1).Window();
    frame->move(200, 40);
    panel.EnableBox(1)->click();
    EXPECT_FALSE(frame->isVisible());
    EXPECT_EQ(panel.LevelBar(1)->value(), 0);
    QCoreApplication::processEvents();
    PumpUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(panel.LevelBar(1)->value(), 0);
    panel.EnableBox(1)->click();
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(frame->pos(), QPoint(200, 40));

    // Ticking zone 2 creates its frame at the stored rectangle; its level follows.
    panel.EnableBox(2)->click();
    ASSERT_TRUE(panel.ZoneWindow(2).Exists());
    EXPECT_EQ(panel.ZoneWindow(2).Window()->geometry(), QRect(170, 10, 100, 100));
    camera->SetZoneLevels({30, 200, 0, 0});
    ASSERT_TRUE(PumpUntil([&] { return panel.LevelBar(2)->value() == 99; }));
    EXPECT_EQ(panel.Config().zones[1].level, 200);
    ctl->StopPlay();
}

TEST(ZoneFrame, BordersKeepTheMinimumSizeInsideThePictureWhereverTheFrameWasPlaced)
{
    testsupport::TestApp();
    QWidget panel;
    panel.resize(810, 530);
    const QRect picture(170, 10, 640, 480);
    struct Case
    {
        QRect placed, proposed, expected;
    };
    const Case cases[] = {
        // Placed from the camera partly past the right edge: the left border dragged in, then out.
        {{770, 100, 70, 90}, {775, 100, 65, 90}, {740, 100, 70, 90}},
        {{770, 100, 70, 90}, {700, 100, 140, 90}, {700, 100, 110, 90}},
        // Partly below the picture: the top border dragged down.
        {{300, 440, 70, 90}, {300, 445, 70, 85}, {300, 400, 70, 90}},
        // Partly left of the picture: the right border dragged in.
        {{120, 100, 70, 90}, {120, 100, 60, 90}, {170, 100, 70, 90}},
        // Inside: the bottom-right corner dragged in stops at the minimum, the top-left stays.
        {{300, 100, 100, 100}, {300, 100, 50, 50}, {300, 100, 70, 90}},
        // The top-left corner dragged past the picture's corner.
        {{200, 50, 100, 100}, {100, 0, 200, 150}, {170, 10, 130, 140}},
    };
    for (const Case& c : cases) {
        CZoneWnd zone(1);
        zone.Create(&panel, c.placed, [&] { return picture; });
        zone.Window()->SizeTo(c.proposed);
        EXPECT_EQ(zone.Window()->geometry(), c.expected)
            << ::testing::PrintToString(c.placed) << " to " << ::testing::PrintToString(c.proposed);
    }
}
