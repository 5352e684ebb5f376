#include "viewer/vuelo_ctrl.h"

#include "camsim/camera.h"
#include "qt_env.h"
#include "viewer/authorization_dlg.h"
#include "viewer/hover_button.h"
#include "viewer/strings.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>

#include <filesystem>
#include <functional>
#include <thread>

#include <unistd.h>

using namespace std::chrono_literals;
using testsupport::PumpUntil;

namespace {

ViewerTimings FastTimings()
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

class PanelTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { testsupport::TestApp(); }

    void StartCamera(camsim::Config config = {})
    {
        config.videoType = "jpeg";
        camera = std::make_unique<camsim::Camera>(config);
        ASSERT_TRUE(camera->Start());
    }
    void MakeControl()
    {
        control = std::make_unique<CVueloCtrl>(nullptr, FastTimings(), hooks);
        control->show();
    }
    CViewerPanel& Panel() { return control->Panel(); }
    std::string StreamUrl() const { return camera->BaseUrl() + "img/mjpeg.cgi"; }
    bool PaintedAtLeast(uint64_t n)
    {
        return PumpUntil([&] { return Panel().Stats().painted >= n; });
    }

    void TearDown() override
    {
        control.reset(); // joins every worker before the camera goes
        camera.reset();
    }

    ViewerHooks hooks;
    std::unique_ptr<camsim::Camera> camera;
    std::unique_ptr<CVueloCtrl> control;
};

// Waits without running the event loop, so that what the workers post stays queued.
bool WaitQuietly(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

size_t RequestsTo(const camsim::Camera& camera, const std::string& endpoint)
{
    size_t n = 0;
    for (const auto& r : camera.Requests())
        n += r.endpoint == endpoint;
    return n;
}

} // namespace

TEST_F(PanelTest, PlaysTheCameraStreamStopsEveryThreadAndPlaysAgain)
{
    StartCamera();
    MakeControl();
    EXPECT_EQ(std::get<bool>(*control->Invoke("SetSource", {StreamUrl(), std::string("jpeg"),
                                                            std::string("off"), std::string(""),
                                                            0L, 0L})),
              true);
    EXPECT_TRUE(Panel().Connected());
    EXPECT_EQ(Panel().PanTilt(), "on"); // the camera's answer wins over the page's
    EXPECT_EQ(Panel().BaseUrl(), camera->BaseUrl());
    control->Invoke(CVueloCtrl::kStartPlay, {0L, std::string()});
    ASSERT_TRUE(PaintedAtLeast(3));

    // The strip appears with the first picture; the 320-wide stream selects the second entry.
    ASSERT_TRUE(PumpUntil([&] { return Panel().ResolutionList()->isVisible(); }));
    EXPECT_EQ(Panel().ResolutionList()->currentIndex(), 1);
    EXPECT_FALSE(Panel().UpperLine()->isVisible());
    bool framed = Panel().Surface().WithFrame([](const SurfaceFrame& f) {
        EXPECT_EQ(f.where, (SurfaceRect{146, 3, 320, 240}));
        EXPECT_EQ(f.width, 320);
        EXPECT_EQ(f.height, 240);
    });
    EXPECT_TRUE(framed);

    const std::string artifacts = CAMCTL_ARTIFACT_DIR;
    QDir().mkpath(QString::fromStdString(artifacts));
    EXPECT_TRUE(control->grab().save(QString::fromStdString(artifacts + "/viewer-panel.png")));

    control->StopPlay();
    EXPECT_TRUE(Panel().MJpegPlayer().Finished());
    EXPECT_TRUE(Panel().MJpegPainter().Finished());
    // The camera sees the connection go at its next write.
    EXPECT_TRUE(PumpUntil([&] { return camera->ActiveStreams() == 0; }, 10s));

    const uint64_t before = Panel().Stats().painted;
    control->StartPlay(0, "");
    ASSERT_TRUE(PaintedAtLeast(before + 3));
    EXPECT_EQ(Panel().Stats().restarts, 0u);
}

TEST_F(PanelTest, LoginKeepsTheDialogOpenForTwoRejectionsAndGivesUpAtTheThird)
{
    camsim::Config config;
    config.user = "admin";
    config.password = "s3cret";
    StartCamera(config);

    int shown = 0;
    std::vector<std::string> passwords;
    hooks.runLogin = [&](CAuthorizationDlg& dlg) {
        ++shown;
        dlg.SetMessageHook([](QWidget*, const QString&) { ADD_FAILURE() << "no message expected"; });
        dlg.show();
        auto* user = dlg.findChild<QLineEdit*>("userNameEdit");
        auto* password = dlg.findChild<QLineEdit*>("passwordEdit");
        for (const std::string& typed : passwords) {
            user->setText("admin");
            password->setText(QString::fromStdString(typed));
            dlg.OnOk();
            if (!dlg.isVisible())
                break;
            EXPECT_TRUE(password->text().isEmpty());
            EXPECT_TRUE(user->hasFocus() || QApplication::focusWidget() == user ||
                        dlg.focusWidget() == user);
        }
        if (dlg.isVisible())
            dlg.reject();
        return dlg.result() == QDialog::Accepted;
    };
    MakeControl();

    passwords = {"a", "b", "c"};
    control->SetSource(StreamUrl(), "jpeg", "", "", 0, 0);
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(Panel().Connected());
    EXPECT_TRUE(Panel().UpperLine()->isVisible());
    EXPECT_EQ(Panel().UpperLine()->text(), LoadViewerString(1006));

    passwords = {}; // cancel
    control->SetSource(StreamUrl(), "jpeg", "", "", 0, 0);
    EXPECT_FALSE(Panel().Connected());
    EXPECT_EQ(Panel().UpperLine()->text(), LoadViewerString(1006));

    passwords = {"wrong", "s3cret"};
    control->SetSource(StreamUrl(), "jpeg", "", "", 0, 0);
    EXPECT_TRUE(Panel().Connected());
    control->StartPlay(0, "");
    EXPECT_TRUE(PaintedAtLeast(2));
}

TEST_F(PanelTest, ABusyCameraGivesTheMessageBoxAndNoRestart)
{
    camsim::Config config;
    config.maxUsers = 0;
    StartCamera(config);
    std::vector<std::pair<QString, QString>> boxes;
    hooks.showBusy = [&](const QString& text, const QString& caption) {
        boxes.emplace_back(text, caption);
    };
    MakeControl();
    control->SetSource(StreamUrl(), "jpeg", "", "", 0, 0);
    control->StartPlay(0, "");
    ASSERT_TRUE(PumpUntil([&] { return !boxes.empty(); }));
    EXPECT_EQ(boxes[0].first, LoadViewerString(1008));
    EXPECT_EQ(boxes[0].second, "Wrong");
    PumpUntil([] { return false; }, 300ms);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(Panel().Stats().restarts, 0u);
    EXPECT_FALSE(Panel().ResolutionList()->isVisible());
    EXPECT_TRUE(Panel().MJpegPlayer().Finished());
}

TEST_F(PanelTest, ADroppedStreamRestartsByItself)
{
    StartCamera();
    camsim::Fault cut;
    cut.closeAfterBytes = 40000; // a few pictures, then the connection drops
    camera->SetFault("img/mjpeg.cgi", cut);
    MakeControl();
    control->SetSource(StreamUrl(), "jpeg", "", "", 0, 0);
    control->StartPlay(1, "ignored.asf");
    ASSERT_TRUE(PumpUntil([&] { return Panel().Stats().restarts >= 2; }));
    auto stats = Panel().Stats();
    EXPECT_EQ(stats.results[0], kResultRead);
    camera->ClearFaults();
    const uint64_t before = Panel().Stats().painted;
    EXPECT_TRUE(PaintedAtLeast(before + 5));
}

TEST_F(PanelTest, ACameraThatDoesNotAnswerShowsTheConnectMessage)
{
    StartCamera();
    const std::string url = StreamUrl();
    camera.reset();
    MakeControl();
    control->SetSource(url, "jpeg", "", "", 0, 0);
    EXPECT_FALSE(Panel().Connected());
    EXPECT_EQ(Panel().UpperLine()->text(), LoadViewerString(1007));
    control->StartPlay(0, ""); // does nothing while not connected
    EXPECT_TRUE(Panel().MJpegPlayer().Finished());
}

TEST_F(PanelTest, ScriptingTableSizesAndTheResolutionList)
{
    MakeControl();
    EXPECT_EQ(CVueloCtrl::DispatchIdOf("setsize"), CVueloCtrl::kSetSize);
    EXPECT_EQ(CVueloCtrl::DispatchIdOf("AboutBox"), CVueloCtrl::kAboutBox);
    EXPECT_FALSE(CVueloCtrl::DispatchIdOf("Explode"));
    EXPECT_FALSE(control->Invoke(42, {}));

    EXPECT_EQ(std::get<long>(*control->Invoke(CVueloCtrl::kGetSize, {})), 320);
    control->Invoke("SetSize", {std::string("640")});
    EXPECT_EQ(control->GetSize(), 640);
    EXPECT_EQ(Panel().UpperLine()->width(), 769);
    control->SetSize(100);
    EXPECT_EQ(control->GetSize(), 320);
    EXPECT_EQ(Panel().UpperLine()->width(), 449);
    control->SetSize(160);
    EXPECT_EQ(Panel().MJpegPainter().View().DisplayWidth(), 160);
    EXPECT_EQ(Panel().MJpegPainter().View().DisplayHeight(), 128);

    QComboBox* list = Panel().ResolutionList();
    list->clear();
    list->addItems({"160x120", "160x128", "640x480"});
    list->setCurrentIndex(0);
    EXPECT_EQ(control->GetSize(), 320);
    list->setCurrentIndex(1);
    EXPECT_EQ(control->GetSize(), 160);
    list->setCurrentIndex(2);
    EXPECT_EQ(control->GetSize(), 640);

    std::vector<QString> opened;
    hooks.openBrowser = [&](const QString& a) { opened.push_back(a); };
    MakeControl();
    control->OpenSettingPage("http://camera/setup page.htm; rm -rf /");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], "http://camera/setup page.htm; rm -rf /"); // one argument, untouched
}

TEST_F(PanelTest, UtilQueryRefillsTheListAndCanSwitchTheStreamType)
{
    camsim::Config config;
    config.resolutions = "320*240,640*480";
    StartCamera(config);
    MakeControl();
    // The page asks for MPEG-4; the camera's "type=jpeg" switches to Motion-JPEG.
    control->SetSource(camera->BaseUrl() + "img/video.asf", "mpeg", "", "Fast", 0, 0);
    control->StartPlay(0, "");
    QComboBox* list = Panel().ResolutionList();
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->itemText(0), "640x480");
    EXPECT_EQ(list->itemText(1), "320x240");
    EXPECT_EQ(Panel().FrameType(), "jpeg");
    EXPECT_TRUE(Panel().AsfPlayer().Finished());
    EXPECT_EQ(Panel().VoiceOut(), "on");
    ASSERT_TRUE(PaintedAtLeast(1));
    control->StopPlay();
    bool sawSpeed = false;
    for (const auto& r : camera->Requests())
        sawSpeed = sawSpeed || r.query.find("Speed") != std::string::npos;
    EXPECT_FALSE(sawSpeed); // "Fast" is the camera's own rate
}

TEST_F(PanelTest, ADropQueuedWhenThePageStopsDoesNotRestartTheStream)
{
    StartCamera();
    camsim::Fault cut;
    cut.closeAfterBytes = 40000;
    camera->SetFault("img/mjpeg.cgi", cut);
    MakeControl();
    int results = 0;
    QObject::connect(&Panel(), &CViewerPanel::MessageHandled, [&](uint32_t message, uintptr_t) {
        results += message == WM_PLAYER_RESULT;
    });
    control->SetSource(StreamUrl(), "jpeg", "", "", 0, 0);
    control->StartPlay(0, "");
    // The drop's result is posted but not yet delivered when the page stops.
    ASSERT_TRUE(WaitQuietly([&] { return Panel().MJpegPlayer().Finished(); }));
    control->StopPlay();
    ASSERT_TRUE(PumpUntil([&] { return results >= 1; }, 5s));
    EXPECT_EQ(Panel().Stats().restarts, 0u);
    EXPECT_TRUE(Panel().MJpegPlayer().Finished());
}

TEST_F(PanelTest, ASourceSetBeforeTheWindowExistsPlaysOnceItIsShown)
{
    StartCamera();
    control = std::make_unique<CVueloCtrl>(nullptr, FastTimings(), hooks);
    control->SetSource(StreamUrl(), "jpeg", "", "", 0, 0);
    EXPECT_TRUE(Panel().MJpegPlayer().Finished());
    control->show();
    EXPECT_TRUE(PaintedAtLeast(1));
}

TEST_F(PanelTest, OnlyTheLatestWorkerResultsAreKept)
{
    MakeControl();
    int handled = 0;
    QObject::connect(&Panel(), &CViewerPanel::MessageHandled,
                     [&](uint32_t message, uintptr_t) { handled += message == WM_PLAYER_RESULT; });
    constexpr int kPosted = 200;
    for (int i = 0; i < kPosted; ++i)
        Panel().Post(WM_PLAYER_RESULT, uintptr_t(1000 + i), 0);
    ASSERT_TRUE(PumpUntil([&] { return handled == kPosted; }));
    const std::vector<int> kept = Panel().Stats().results;
    ASSERT_FALSE(kept.empty());
    EXPECT_LT(kept.size(), size_t(kPosted));
    for (size_t i = 0; i < kept.size(); ++i)
        EXPECT_EQ(kept[i], 1000 + kPosted - int(kept.size() - i));
}

TEST_F(PanelTest, StartPlayWhileAClientRunsOnlyAsksTheCamera)
{
    camera = std::make_unique<camsim::Camera>(); // answers "type=mpeg4"
    ASSERT_TRUE(camera->Start());
    camsim::Fault missing;
    missing.status = 404; // no answer: the page's type stands
    camera->SetFault("util/query.cgi", missing);
    MakeControl();
    control->SetSource(StreamUrl(), "jpeg", "", "", 0, 0);
    control->StartPlay(0, "");
    ASSERT_TRUE(PaintedAtLeast(1));

    // Again with the same type, then with the camera switching to the other one: each time
    // the util query goes out and nothing else starts.
    for (bool switched : {false, true}) {
        if (switched)
            camera->ClearFaults();
        const size_t utils = RequestsTo(*camera, "util/query.cgi");
        control->StartPlay(0, "");
        EXPECT_EQ(RequestsTo(*camera, "util/query.cgi"), utils + 1);
        EXPECT_EQ(Panel().FrameType(), switched ? "mpeg" : "jpeg");
        EXPECT_EQ(RequestsTo(*camera, "img/mjpeg.cgi"), 1u);
        EXPECT_TRUE(Panel().AsfPlayer().Finished());
    }
    control->StopPlay();
    EXPECT_TRUE(Panel().MJpegPlayer().Finished());
    EXPECT_TRUE(PumpUntil([&] { return camera->ActiveStreams() == 0; }, 10s));
}

TEST_F(PanelTest, AnAutomaticRestartDoesNotRecord)
{
    camera = std::make_unique<camsim::Camera>(); // ASF
    ASSERT_TRUE(camera->Start());
    camsim::Fault cut;
    cut.closeAfterBytes = 60000;
    camera->SetFault("img/video.asf", cut);
    MakeControl();
    const std::filesystem::path record = std::filesystem::temp_directory_path() /
                                         ("camctl-restart-" + std::to_string(::getpid()) + ".asf");
    control->SetSource(camera->BaseUrl() + "img/video.asf", "mpeg", "", "", 0, 0);
    control->StartPlay(1, record.string());
    ASSERT_TRUE(WaitQuietly([&] { return Panel().AsfPlayer().Finished(); }));
    EXPECT_GT(std::filesystem::file_size(record), 0u);
    std::filesystem::remove(record);
    camera->ClearFaults();
    ASSERT_TRUE(PumpUntil([&] { return Panel().Stats().restarts >= 1; }));
    const uint64_t before = Panel().Stats().painted;
    ASSERT_TRUE(PaintedAtLeast(before + 3));
    EXPECT_FALSE(std::filesystem::exists(record));
}

TEST_F(PanelTest, ClicksThatPlaceZoomTurnNothingAndZoomFollowsANewStream)
{
    StartCamera();
    MakeControl();
    control->SetSource(StreamUrl(), "jpeg", "", "", 0, 0);
    control->StartPlay(0, "");
    ASSERT_TRUE(PaintedAtLeast(1));
    CPaintStep& view = Panel().MJpegPainter().View();
    Panel().OnZoom();
    Panel().Click(146 + 400, 3 + 10); // beside the 320 x 240 picture
    EXPECT_FALSE(Panel().ZoomPlaced());
    Panel().Click(146 + 300, 3 + 200);
    ASSERT_TRUE(Panel().ZoomPlaced());
    EXPECT_TRUE(camera->PanTiltCommands().empty()); // pan/tilt is "on": zoom took both clicks
    control->StopPlay();

    // Another camera with larger pictures: SetSource switches the painters' zoom off, and the
    // new stream's first picture brings it back at the new picture size.
    camsim::Config config;
    config.videoType = "jpeg";
    config.mjpegSize = "640x480";
    camsim::Camera wide(config);
    ASSERT_TRUE(wide.Start());
    control->SetSource(wide.BaseUrl() + "img/mjpeg.cgi", "jpeg", "", "", 0, 0);
    EXPECT_FALSE(view.ZoomActive());
    control->StartPlay(0, "");
    ASSERT_TRUE(PumpUntil([&] { return view.PictureWidth() == 640 && view.ZoomActive(); }, 10s));
    EXPECT_EQ(view.ZoomRect(), (SurfaceRect{160, 120, 320, 240}));

    // Placed in the bottom-right quarter of the large pictures, then back to the small ones:
    // the zoom stays inside the picture and the video goes on.
    Panel().OnZoom();
    Panel().OnZoom();
    Panel().Click(146 + 600, 3 + 400);
    ASSERT_TRUE(Panel().ZoomPlaced());
    EXPECT_EQ(view.ZoomRect(), (SurfaceRect{320, 240, 320, 240}));
    control->StopPlay();
    control->SetSource(StreamUrl(), "jpeg", "", "", 0, 0);
    control->StartPlay(0, "");
    ASSERT_TRUE(PumpUntil([&] { return view.PictureWidth() == 320 && view.ZoomActive(); }, 10s));
    EXPECT_EQ(view.ZoomRect(), (SurfaceRect{160, 120, 160, 120}));
    const uint64_t drawn = Panel().Surface().FramesDrawn();
    EXPECT_TRUE(PumpUntil([&] { return Panel().Surface().FramesDrawn() >= drawn + 3; }));
    control->StopPlay();
}
