#include "viewer/picture_folder.h"
#include "viewer/snapshot.h"
#include "viewer/strings.h"
#include "viewer/vuelo_ctrl.h"

#include "camsim/camera.h"
#include "camsim/scene.h"
#include "codec/image_holder.h"
#include "qt_env.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>

#include <array>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::PumpUntil;

namespace {

fs::path TempDir(const std::string& name)
{
    fs::path dir = fs::temp_directory_path() /
                   ("camctl-" + name + "-" + std::to_string(::getpid()) + "-" +
                    std::to_string(std::rand()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::tm At(int year, int month, int day, int h, int m, int s)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = h;
    t.tm_min = m;
    t.tm_sec = s;
    return t;
}

// A picture whose halves differ, so a flip or a crop shows.
std::vector<uint8_t> TwoTone(int w, int h, int stride)
{
    std::vector<uint8_t> p(size_t(stride) * size_t(h), 0);
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x) {
            uint8_t* px = p.data() + size_t(row) * size_t(stride) + size_t(x) * 3;
            const bool bottom = row < h / 2; // memory rows start at the bottom
            px[0] = bottom ? 200 : 30;
            px[1] = uint8_t(x * 255 / w);
            px[2] = bottom ? 40 : 220;
        }
    return p;
}

} // namespace

TEST(PictureFolder, NamesFromTheLocalTime)
{
    EXPECT_EQ(SnapshotFileName("/pics", At(2006, 2, 3, 14, 5, 9)), "/pics/Lenso20060203-140509.jpg");
    EXPECT_EQ(SnapshotFileName("", At(2006, 2, 3, 14, 5, 9)), "/Lenso20060203-140509.jpg");
}

TEST(PictureFolder, ReadOrderAndWhatTheFolderButtonWrites)
{
    const fs::path dir = TempDir("folders");
    const std::string desktop = (dir / "Pictures").string();
    {
        platform::SettingsStore store(dir / "empty.reg");
        EXPECT_EQ(ReadPictureFolder(store, desktop), desktop);
        EXPECT_TRUE(fs::is_directory(desktop)); // created, one level
    }
    {
        platform::SettingsStore store(dir / "shell.reg");
        const std::string mine = (dir / "Mine").string();
        store.SetString(platform::SettingsRoot::CurrentUser, kShellFoldersKey, kMyPicturesValue, mine);
        EXPECT_EQ(ReadPictureFolder(store, desktop), mine);
        EXPECT_TRUE(fs::is_directory(mine));
        // The viewer's own key wins, and nothing else is tried once it exists, even empty.
        store.SetString(platform::SettingsRoot::CurrentUser, kViewerSettingsKey, "Other", "x");
        EXPECT_EQ(ReadPictureFolder(store, desktop), "");
        WritePictureFolder(store, "/chosen");
        EXPECT_EQ(ReadPictureFolder(store, desktop), "/chosen");
    }

    testsupport::TestApp();
    ViewerHooks hooks;
    hooks.settingsPath = (dir / "panel.reg").string();
    hooks.desktopPictures = desktop;
    const std::string chosen = (dir / "Chosen").string();
    fs::create_directories(chosen);
    QString offeredTitle, offeredStart;
    hooks.chooseFolder = [&](QWidget*, const QString& title, const QString& initial) {
        offeredTitle = title;
        offeredStart = initial;
        return std::optional<QString>(QString::fromStdString(chosen));
    };
    const fs::path before = fs::current_path();
    {
        CViewerPanel panel(nullptr, {}, hooks);
        EXPECT_EQ(panel.PictureFolder(), desktop);
        panel.OnFolder();
        EXPECT_EQ(offeredTitle, "Choose destination folder");
        EXPECT_EQ(offeredStart.toStdString(), desktop);
        EXPECT_EQ(panel.PictureFolder(), chosen);
        EXPECT_EQ(fs::current_path(), fs::path(chosen));
    }
    fs::current_path(before);
    // A later viewer uses it.
    CViewerPanel later(nullptr, {}, hooks);
    EXPECT_EQ(later.PictureFolder(), chosen);
    hooks.chooseFolder = [](QWidget*, const QString&, const QString&) { return std::optional<QString>(); };
    CViewerPanel cancelled(nullptr, {}, hooks);
    cancelled.OnFolder();
    EXPECT_EQ(cancelled.PictureFolder(), chosen);
    fs::remove_all(dir);
}

TEST(Snapshot, IsTheWholeUnturnedPictureWhateverTheView)
{
    const int w = 64, h = 48, stride = w * 3;
    const auto picture = TwoTone(w, h, stride);
    CDrawSurface surface;
    CPaintStep step(&surface);
    step.SetSizes(w, h);
    step.SetTransform(kTransformFlip);
    step.SetZoomRect(0, 0, w / 2, h / 2);
    step.SetZoomActive(true);
    step.RequestSnapshot();
    step.Paint(picture.data(), w, h, stride);
    EXPECT_FALSE(step.SnapshotRequested());
    auto holder = step.TakeSnapshot();
    ASSERT_TRUE(holder && holder->IsValid());

    const fs::path dir = TempDir("snap");
    const std::string file = (dir / "shot.jpg").string();
    ASSERT_TRUE(holder->SaveToFile(file.c_str(), FormatJpeg));
    CImageHolder back;
    std::vector<uint8_t> bytes(fs::file_size(file));
    FILE* f = std::fopen(file.c_str(), "rb");
    ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
    ASSERT_TRUE(back.Decode(bytes.data(), uint32_t(bytes.size()), FormatJpeg));
    ASSERT_EQ(back.GetWidth(), uint32_t(w));
    ASSERT_EQ(back.GetHeight(), uint32_t(h));
    // Bottom rows (memory first) stay the blue-ish half: no flip, no crop.
    const uint8_t* bottom = back.GetBits() + 4 * back.GetEffWidth() + 10 * 3;
    const uint8_t* top = back.GetBits() + (h - 4) * back.GetEffWidth() + 10 * 3;
    EXPECT_NEAR(bottom[0], 200, 12);
    EXPECT_NEAR(top[2], 220, 12);
    EXPECT_EQ(step.TakeSnapshot(), nullptr); // taken once
    fs::remove_all(dir);
}

TEST(Snapshot, AWithdrawnRequestIsNeverServedAndTheNextWaitsForANewPicture)
{
    auto picture = [] {
        auto h = std::make_unique<CImageHolder>();
        h->Create(2, 2, 24);
        return h;
    };
    CSnapshotHandOver handOver;
    handOver.Request();
    const uint64_t late = handOver.Claim(); // the painter starts on it
    handOver.Withdraw();                    // and the wait runs out before it is done
    EXPECT_FALSE(handOver.Deliver(late, picture()));
    handOver.Request();
    EXPECT_TRUE(handOver.Pending());
    EXPECT_EQ(handOver.Take(), nullptr);

    // Served but never taken: a new request does not get the old picture.
    handOver.Request();
    EXPECT_TRUE(handOver.Deliver(handOver.Claim(), picture()));
    handOver.Request();
    EXPECT_EQ(handOver.Take(), nullptr);

    handOver.Request();
    EXPECT_TRUE(handOver.Deliver(handOver.Claim(), picture()));
    EXPECT_FALSE(handOver.Pending());
    auto served = handOver.Take();
    EXPECT_TRUE(served && served->IsValid());
}

class SnapshotPanelTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { testsupport::TestApp(); }
    void SetUp() override
    {
        dir = TempDir("panel-snap");
        hooks.settingsPath = (dir / "settings.reg").string();
        hooks.desktopPictures = (dir / "Pictures").string();
        hooks.localTime = [] { return At(2006, 2, 3, 14, 5, 9); };
        timings.stopPlaySleep = 0ms;
        timings.setSizeWait = 0ms;
        timings.mjpeg.openSettle = 10ms;
        timings.mjpeg.afterStart = 0ms;
        timings.mjpeg.stopSleep = 0ms;
        timings.snapshotPoll = 20ms;
    }
    void TearDown() override
    {
        panel.reset();
        camera.reset();
        fs::remove_all(dir);
    }
    void Start(camsim::Config config = {})
    {
        config.videoType = "jpeg";
        camera = std::make_unique<camsim::Camera>(config);
        ASSERT_TRUE(camera->Start());
        panel = std::make_unique<CViewerPanel>(nullptr, timings, hooks);
        panel->SetSource(camera->BaseUrl() + "img/mjpeg.cgi", "jpeg", "", "");
    }
    std::vector<camsim::PanTiltCommand> ClickAt(int x, int y)
    {
        const size_t before = camera->PanTiltCommands().size();
        panel->Click(x, y);
        auto all = camera->PanTiltCommands();
        return {all.begin() + long(before), all.end()};
    }

    fs::path dir;
    ViewerHooks hooks;
    ViewerTimings timings;
    std::unique_ptr<camsim::Camera> camera;
    std::unique_ptr<CViewerPanel> panel;
};

TEST_F(SnapshotPanelTest, TwoSnapshotsInOneSecondLeaveOneFileAndNoPictureLeavesNone)
{
    Start();
    EXPECT_EQ(panel->OnSnapshot(), ""); // nothing playing: nothing served, nothing written
    EXPECT_TRUE(fs::is_empty(dir / "Pictures"));

    panel->StartPlay(0, "");
    ASSERT_TRUE(PumpUntil([&] { return panel->Stats().painted >= 2; }));
    panel->OnFlip();
    const std::string first = panel->OnSnapshot();
    EXPECT_EQ(first, (dir / "Pictures" / "Lenso20060203-140509.jpg").string());
    const std::string second = panel->OnSnapshot();
    EXPECT_EQ(second, first);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "Pictures"), fs::directory_iterator()), 1);
    CImageHolder saved;
    std::vector<uint8_t> bytes(fs::file_size(first));
    FILE* f = std::fopen(first.c_str(), "rb");
    ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
    ASSERT_TRUE(saved.Decode(bytes.data(), uint32_t(bytes.size()), FormatJpeg));
    EXPECT_EQ(saved.GetWidth(), 320u);
    EXPECT_EQ(saved.GetHeight(), 240u);
    panel->StopPlay();
}

TEST_F(SnapshotPanelTest, AFolderThatWentIsMadeAgainAndAFileThatCannotBeWrittenIsSaid)
{
    Start();
    panel->StartPlay(0, "");
    ASSERT_TRUE(PumpUntil([&] { return panel->Stats().painted >= 2; }));
    const fs::path pictures = dir / "Pictures";
    QLabel* line = panel->LowerLine();

    fs::remove_all(pictures);
    EXPECT_EQ(panel->OnSnapshot(), (pictures / "Lenso20060203-140509.jpg").string());

    fs::remove_all(pictures);
    std::ofstream(pictures) << "a file where the folder was";
    EXPECT_EQ(panel->OnSnapshot(), "");
    EXPECT_FALSE(line->isHidden());
    EXPECT_EQ(line->text(), LoadViewerString(kStrSnapshotNotSaved));

    fs::remove(pictures);
    EXPECT_NE(panel->OnSnapshot(), "");
    EXPECT_TRUE(line->text().isEmpty()) << "the next snapshot that is written clears it";
    panel->StopPlay();
}

TEST_F(SnapshotPanelTest, ClicksTurnTheCameraByTheirOffsetFromTheCentre)
{
    Start();
    CPaintStep& view = panel->MJpegPainter().View();
    view.SetSizes(320, 240);
    auto one = [](int h, int v) { return std::vector<std::pair<int, int>>{{h, v}}; };
    auto sent = [&](int x, int y) {
        std::vector<std::pair<int, int>> out;
        for (const auto& c : ClickAt(x, y)) {
            EXPECT_EQ(c.speed, 10);
            out.emplace_back(c.h, c.v);
        }
        return out;
    };
    EXPECT_EQ(sent(146 + 160, 3 + 120), one(0, 0));
    EXPECT_EQ(sent(146 + 260, 3 + 20), one(100, 93));
    EXPECT_TRUE(sent(140, 3 + 20).empty());        // the strip
    EXPECT_TRUE(sent(146 + 100, 3 + 250).empty()); // below the picture

    panel->OnZoom();
    panel->Click(146 + 160, 3 + 120); // places zoom: no command
    EXPECT_TRUE(panel->ZoomPlaced());
    EXPECT_EQ(sent(146 + 260, 3 + 20), one(50, 46));
    panel->OnZoom();

    view.SetSizes(704, 480);
    EXPECT_EQ(sent(146 + 352 + 100, 3 + 240), one(90, 0));
}

TEST_F(SnapshotPanelTest, PanTiltOffSendsNothing)
{
    camsim::Config config;
    config.ptctrl = "off";
    Start(config);
    panel->MJpegPainter().View().SetSizes(320, 240);
    EXPECT_TRUE(ClickAt(146 + 260, 3 + 20).empty());
}

// The camera turns toward the point of the shown picture under the click, however the view
// turns or zooms the picture: after the command, the simulator's picture centre shows what the
// click was on (its backdrop's red and green give the place; the vertical 15/16 leaves a few
// pixels).
TEST_F(SnapshotPanelTest, ClicksTurnTheCameraTowardThePointShownUnderThem)
{
    Start();
    CPaintStep& view = panel->MJpegPainter().View();
    const int w = 320, h = 240;
    view.SetSizes(w, h);
    camsim::Scene scene(w, h);
    constexpr uint32_t kWhen = 1150; // bar and ball clear of every point looked at

    // The scene as the painters get it: bottom-up, blue-green-red.
    auto render = [&](int aimX, int aimY) {
        scene.SetAim(aimX, aimY);
        const uint8_t* rgb = scene.Render(kWhen, 0);
        std::vector<uint8_t> bgr(size_t(w) * size_t(h) * 3);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t* from = rgb + (size_t(y) * size_t(w) + size_t(x)) * 3;
                uint8_t* to = bgr.data() + (size_t(h - 1 - y) * size_t(w) + size_t(x)) * 3;
                to[0] = from[2];
                to[1] = from[1];
                to[2] = from[0];
            }
        return bgr;
    };
    auto shownAt = [&](int x, int y) {
        std::array<int, 3> bgr{};
        panel->Surface().WithFrame([&](const SurfaceFrame& f) {
            const int fx = (x - f.where.x) * f.width / f.where.width;
            const int fy = (y - f.where.y) * f.height / f.where.height;
            const uint8_t* p = f.pixels + size_t(fy) * size_t(f.stride) + size_t(fx) * 3;
            bgr = {p[0], p[1], p[2]};
        });
        return bgr;
    };

    struct Case
    {
        const char* view;
        void (CViewerPanel::*set)();
        std::pair<int, int> sent;
    };
    // Each click is 100 right of and 70 above the middle of what is shown.
    const Case cases[] = {
        {"as is", nullptr, {100, 65}},
        {"flipped", &CViewerPanel::OnFlip, {100, -65}},
        {"mirrored", &CViewerPanel::OnMirror, {-100, 65}},
        {"rotated", &CViewerPanel::OnRotate, {-100, -65}},
        // The top-left quarter stretched over the display: the click is on (130, 25).
        {"zoomed", &CViewerPanel::OnZoom, {-30, 89}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.view);
        if (c.set)
            (panel.get()->*c.set)();
        if (panel->ZoomArmed())
            panel->Click(146 + 40, 3 + 30); // places the zoom in the corner
        const auto [aimX, aimY] = camera->Aim();
        const auto before = render(aimX, aimY);
        view.Paint(before.data(), w, h, w * 3);
        const std::array<int, 3> clicked = shownAt(146 + 260, 3 + 50);
        ASSERT_EQ(clicked[0], 150) << "the backdrop, not the bar, ball or counter";

        std::vector<std::pair<int, int>> sent;
        for (const auto& command : ClickAt(146 + 260, 3 + 50))
            sent.emplace_back(command.h, command.v);
        EXPECT_EQ(sent, (std::vector<std::pair<int, int>>{c.sent}));
        const auto [nowX, nowY] = camera->Aim();
        scene.SetAim(nowX, nowY);
        const uint8_t* centre = scene.Render(kWhen, 0) + (size_t(h / 2) * size_t(w) + size_t(w / 2)) * 3;
        ASSERT_EQ(centre[2], 150);
        EXPECT_NEAR(centre[0], clicked[2], 3) << "across";
        EXPECT_NEAR(centre[1], clicked[1], 6) << "up and down";
        if (c.set)
            (panel.get()->*c.set)(); // back to the plain view
    }
}
