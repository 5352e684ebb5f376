// The viewer's window while it waits on a slow or silent camera: it keeps painting, the page's
// calls wait their turn, and closing or deleting the control ends the wait.

#include "viewer/vuelo_ctrl.h"

#include "camsim/camera.h"
#include "qt_env.h"
#include "viewer/hover_button.h"
#include "viewer/strings.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>

using namespace std::chrono_literals;
using testsupport::PumpUntil;

namespace {

// The fixed waits shortened; the poster's time-out stays the camera protocol's 30 s, so only
// the user can end a wait on a silent camera quickly.
ViewerTimings Timings()
{
    ViewerTimings t;
    t.stopPlaySleep = 0ms;
    t.setSizeWait = 0ms;
    t.stopTimeoutMs = 20000;
    t.mjpeg.openSettle = 10ms;
    t.mjpeg.afterStart = 0ms;
    t.mjpeg.stopSleep = 0ms;
    t.mjpeg.workerStop = 5000ms;
    return t;
}

struct PaintCounter : QObject
{
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        paints += e->type() == QEvent::Paint;
        return false;
    }
};

class PanelWaitTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { testsupport::TestApp(); }
    void SetUp() override
    {
        camsim::Config config;
        config.videoType = "jpeg";
        camera = std::make_unique<camsim::Camera>(config);
        ASSERT_TRUE(camera->Start());
    }
    void TearDown() override
    {
        control.reset();
        camera.reset();
    }
    void MakeControl()
    {
        control = std::make_unique<CVueloCtrl>(nullptr, Timings());
        control->show();
    }
    std::vector<DispatchArg> Source() const
    {
        return {camera->BaseUrl() + "img/mjpeg.cgi",
                std::string("jpeg"),
                std::string("on"),
                std::string(""),
                0L,
                0L};
    }

    std::unique_ptr<camsim::Camera> camera;
    std::unique_ptr<CVueloCtrl> control;
};

} // namespace

TEST_F(PanelWaitTest, ClosingOrDeletingTheControlEndsTheWaitForASilentCamera)
{
    camsim::Fault hang;
    hang.hang = true;
    camera->SetFault("img/query.cgi", hang);
    for (const bool destroy : {false, true}) {
        MakeControl();
        CVueloCtrl* raw = control.get();
        const QPointer<CViewerPanel> panel = &raw->Panel();
        bool inCall = true;
        bool actedInCall = false;
        QTimer::singleShot(100, [&] {
            actedInCall = inCall;
            if (destroy)
                control.reset();
            else
                control->close();
        });
        const auto answer = raw->Invoke("SetSource", Source());
        inCall = false;
        EXPECT_TRUE(actedInCall) << destroy;
        ASSERT_TRUE(answer);
        EXPECT_TRUE(std::get<bool>(*answer));
        if (destroy) {
            // The panel outlived its control until the request had unwound, then went.
            EXPECT_TRUE(PumpUntil(
                [&] {
                    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                    return panel.isNull();
                },
                5s));
        } else {
            EXPECT_FALSE(control->isVisible());
            EXPECT_FALSE(panel->Connected());
            EXPECT_EQ(panel->UpperLine()->text(), LoadViewerString(1007));
        }
    }
}

TEST_F(PanelWaitTest, ThePictureGoesOnDuringASlowPanTiltAnswerAndThePagesCallsWaitTheirTurn)
{
    MakeControl();
    control->Invoke("SetSource", Source());
    control->Invoke("StartPlay", {0L, std::string()});
    ASSERT_TRUE(PumpUntil([&] { return control->Panel().Stats().painted >= 3; }));

    camsim::Fault slow;
    slow.delayMs = 1000;
    camera->SetFault("pt/ptctrl.cgi", slow);
    PaintCounter counter;
    control->Panel().installEventFilter(&counter);
    // A click on Flip during the wait is not taken, then or later.
    QTimer::singleShot(100, [&] {
        QWidget* flip = control->Panel().Button(208);
        const QPointF at(5, 5);
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
            QCoreApplication::postEvent(
                flip,
                new QMouseEvent(type, at, flip->mapToGlobal(at), Qt::LeftButton,
                                type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                Qt::NoModifier));
    });
    bool stopAsked = false;
    QTimer::singleShot(200, [&] {
        control->Invoke("StopPlay", {});
        stopAsked = true;
    });
    control->Panel().Click(146 + 260, 3 + 20);

    EXPECT_GT(counter.paints, 0);
    EXPECT_EQ(camera->PanTiltCommands().size(), 1u);
    // The page's StopPlay came during the click and runs once the click is done.
    EXPECT_TRUE(stopAsked);
    EXPECT_FALSE(control->Panel().MJpegPlayer().Finished());
    EXPECT_TRUE(PumpUntil([&] { return control->Panel().MJpegPlayer().Finished(); }));
    EXPECT_EQ(control->Panel().Stats().restarts, 0u);
    EXPECT_FALSE(control->Panel().FlipOn());
}

TEST_F(PanelWaitTest, TheWindowLivesWhileASnapshotWaitsForItsPicture)
{
    MakeControl();
    control->Invoke("SetSource", Source());
    control->Invoke("StartPlay", {0L, std::string()});
    ASSERT_TRUE(PumpUntil([&] { return control->Panel().Stats().painted >= 1; }));

    bool inCall = true;
    bool ranInCall = false;
    QTimer::singleShot(0, [&] { ranInCall = inCall; });
    EXPECT_NE(control->Panel().OnSnapshot(), "");
    inCall = false;
    EXPECT_TRUE(ranInCall);
}
