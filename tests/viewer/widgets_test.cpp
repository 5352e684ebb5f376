#include "camsim/camera.h"
#include "viewer/authorization_dlg.h"
#include "viewer/hover_button.h"
#include "viewer/picture_ctrl.h"
#include "viewer/resources.h"
#include "viewer/strings.h"

#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <vector>

namespace {

QImage Rgb32(const QImage& image)
{
    return image.convertToFormat(QImage::Format_RGB32);
}

QImage Grab(QWidget& widget)
{
    return Rgb32(widget.grab().toImage());
}

QImage Frame(const QImage& bitmap, int index)
{
    return Rgb32(bitmap.copy(index * kButtonFrameWidth, 0, kButtonFrameWidth, kButtonFrameHeight));
}

// Rectangle of the pixels bright enough to be heading text on the blue field.
QRect BrightArea(const QImage& image)
{
    QRect area;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qRed(image.pixel(x, y)) > 200 && qGreen(image.pixel(x, y)) > 200)
                area |= QRect(x, y, 1, 1);
    return area;
}

std::vector<QString> ResourceNames()
{
    std::vector<QString> names;
    for (int id : kButtonBitmapIds)
        names.push_back(ViewerBitmapName(id));
    names.push_back(ViewerImageName(kImgPanelBackground));
    names.push_back(ViewerImageName(kImgZoneBackground));
    for (const CursorImage& image : kZoomCursorImages)
        names.push_back(ViewerCursorName(kCurZoom, image.size));
    return names;
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(ViewerStrings, table_holds_the_french_texts_and_nothing_else)
{
    EXPECT_EQ(LoadViewerString(1006), QStringLiteral("Connexion impossible."));
    EXPECT_EQ(LoadViewerString(1007), QStringLiteral("Connexion impossible."));
    EXPECT_EQ(LoadViewerString(1008),
              QString::fromUtf8("Connexion à la caméra impossible : trop d'utilisateurs déjà "
                                "connectés ou périphérique occupé. Veuillez réessayer "
                                "ultérieurement."));
    EXPECT_EQ(LoadViewerString(1011), QString::fromUtf8("Image du dossier sélectionné"));
    EXPECT_EQ(LoadViewerString(1012), QStringLiteral("Retourner l'image"));
    for (int unknown : {0, 1005, 1015, 260})
        EXPECT_TRUE(LoadViewerString(unknown).isNull()) << unknown;
}

TEST(ViewerResources, button_bitmaps_are_24_bit_strips_of_three_distinct_frames)
{
    for (int id : kButtonBitmapIds) {
        SCOPED_TRACE(id);
        const QByteArray file = ReadAll(QStringLiteral(":/viewer/") + ViewerBitmapName(id));
        ASSERT_GT(file.size(), 30);
        EXPECT_EQ(uchar(file[28]), 24); // bits per pixel in the bitmap header
        const QImage bitmap = ViewerBitmap(id);
        ASSERT_EQ(bitmap.size(), QSize(108, 37));
        EXPECT_NE(Frame(bitmap, 0), Frame(bitmap, 1));
        EXPECT_NE(Frame(bitmap, 1), Frame(bitmap, 2));
        EXPECT_NE(Frame(bitmap, 0), Frame(bitmap, 2));
    }
    const std::pair<int, int> normalAndOn[] = {
        {kBmpZoom, kBmpZoomOn}, {kBmpRotate, kBmpRotateOn},
        {kBmpMirror, kBmpMirrorOn}, {kBmpFlip, kBmpFlipOn}};
    for (auto [normal, on] : normalAndOn)
        EXPECT_NE(Frame(ViewerBitmap(normal), 0), Frame(ViewerBitmap(on), 0)) << normal;
    EXPECT_TRUE(ViewerBitmap(255).isNull());
}

TEST(ViewerResources, background_is_a_blue_field_with_its_heading_above_the_list)
{
    const QImage picture = Rgb32(ViewerImage(kImgPanelBackground));
    ASSERT_EQ(picture.size(), QSize(136, 154));
    // Bitmap 260 is a different resource of the same id.
    EXPECT_EQ(ViewerBitmap(kBmpZoomOn).size(), QSize(108, 37));

    const QRect heading = BrightArea(picture);
    ASSERT_FALSE(heading.isEmpty());
    EXPECT_LT(heading.bottom(), 26); // the list starts at y 26
    EXPECT_GE(heading.left(), 8);
    EXPECT_GT(heading.width(), 60);
    const QColor blue = QColor::fromRgb(kPanelBlueRgb);
    for (QPoint at : {QPoint(2, 40), QPoint(68, 90), QPoint(130, 150), QPoint(5, 140)}) {
        const QColor c = picture.pixelColor(at);
        EXPECT_LE(std::abs(c.red() - blue.red()) + std::abs(c.green() - blue.green()) +
                      std::abs(c.blue() - blue.blue()),
                  12)
            << at.x() << "," << at.y();
    }
}

TEST(ViewerResources, zoom_cursor_aims_with_the_lens_centre_at_each_size)
{
    const struct
    {
        int asked, size;
        QPoint hotSpot;
    } cases[] = {{32, 32, {9, 8}}, {16, 16, {7, 7}}, {23, 16, {7, 7}}, {24, 32, {9, 8}},
                 {64, 32, {9, 8}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked);
        const QCursor cursor = ViewerCursor(kCurZoom, c.asked);
        ASSERT_EQ(cursor.shape(), Qt::BitmapCursor);
        EXPECT_EQ(cursor.hotSpot(), c.hotSpot);
        const QImage picture = cursor.pixmap().toImage();
        ASSERT_EQ(picture.size(), QSize(c.size, c.size));
        EXPECT_EQ(qAlpha(picture.pixel(c.size - 1, 0)), 0);
        // The cross in the lens marks the hot spot.
        EXPECT_EQ(qAlpha(picture.pixel(c.hotSpot)), 255);
        EXPECT_LT(qGray(picture.pixel(c.hotSpot)), 80);
    }
    qputenv("XCURSOR_SIZE", "16");
    EXPECT_EQ(ViewerCursor(kCurZoom).pixmap().size(), QSize(16, 16));
    qunsetenv("XCURSOR_SIZE");
    EXPECT_EQ(ViewerCursor(kCurZoom).pixmap().size(), QSize(32, 32));
    EXPECT_EQ(ViewerCursor(225).shape(), Qt::ArrowCursor);
}

TEST(ViewerResources, generator_output_is_the_same_on_every_run_and_is_what_is_embedded)
{
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    const QString first = work.filePath(QStringLiteral("first"));
    const QString second = work.filePath(QStringLiteral("second"));
    for (const QString& dir : {first, second}) {
        QProcess generator;
        generator.start(QStringLiteral(VIEWER_RESGEN), {dir});
        ASSERT_TRUE(generator.waitForFinished(60000));
        ASSERT_EQ(generator.exitStatus(), QProcess::NormalExit);
        ASSERT_EQ(generator.exitCode(), 0) << generator.readAllStandardError().toStdString();
    }
    const std::vector<QString> names = ResourceNames();
    EXPECT_EQ(QDir(first).entryList(QDir::Files).size(), qsizetype(names.size()));
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray bytes = ReadAll(QDir(first).filePath(name));
        ASSERT_FALSE(bytes.isEmpty());
        EXPECT_EQ(bytes, ReadAll(QDir(second).filePath(name)));
        EXPECT_EQ(bytes, ReadAll(QStringLiteral(":/viewer/") + name));
    }
}

void Enter(QWidget& widget)
{
    const QPointF local(5, 5);
    QEnterEvent event(local, local, widget.mapToGlobal(local));
    QCoreApplication::sendEvent(&widget, &event);
}

void Leave(QWidget& widget)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(&widget, &event);
}

void Mouse(QWidget& widget, QEvent::Type type)
{
    const QPointF local(10, 10);
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
    QMouseEvent event(type, local, widget.mapToGlobal(local), Qt::LeftButton, held,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &event);
}

bool TipHidden()
{
    return QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 5000);
}

TEST(HoverButton, paints_normal_hover_and_pressed_frames_by_its_state)
{
    CHoverButton button;
    button.move(49, 62);
    button.SetBitmap(kBmpSnapshot);
    EXPECT_EQ(button.geometry(), QRect(49, 62, 36, 37));
    const QImage bitmap = ViewerBitmap(kBmpSnapshot);

    EXPECT_EQ(Grab(button), Frame(bitmap, 0));
    Enter(button);
    EXPECT_EQ(Grab(button), Frame(bitmap, 1));
    Mouse(button, QEvent::MouseButtonPress);
    EXPECT_EQ(Grab(button), Frame(bitmap, 2));
    Mouse(button, QEvent::MouseButtonRelease);
    EXPECT_EQ(Grab(button), Frame(bitmap, 1));
    Leave(button);
    EXPECT_EQ(Grab(button), Frame(bitmap, 0));
    // Pressed wins over not hovered.
    Mouse(button, QEvent::MouseButtonPress);
    EXPECT_EQ(Grab(button), Frame(bitmap, 2));
    Mouse(button, QEvent::MouseButtonRelease);

    button.SetBitmap(kBmpZoomOn);
    EXPECT_EQ(Grab(button), Frame(ViewerBitmap(kBmpZoomOn), 0));
    EXPECT_TRUE(TipHidden());
}

TEST(HoverButton, tooltip_shows_at_once_on_entering_and_hides_on_leaving)
{
    ASSERT_TRUE(TipHidden());
    CHoverButton button;
    button.SetBitmap(kBmpFlip);
    button.SetTooltip(kStrTipFlip, true);
    Enter(button);
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), QStringLiteral("Retourner l'image"));
    Leave(button);
    EXPECT_TRUE(TipHidden());

    // A tooltip set inactive stays hidden.
    button.SetTooltip(kStrTipMirror, false);
    Enter(button);
    EXPECT_FALSE(QToolTip::isVisible());
    Leave(button);
}

TEST(HoverButton, empty_tooltip_string_leaves_the_tooltip_as_it_was)
{
    ASSERT_TRUE(TipHidden());
    CHoverButton bare;
    bare.SetBitmap(kBmpFolder);
    bare.SetTooltip(1099, true);
    Enter(bare);
    EXPECT_FALSE(QToolTip::isVisible());
    Leave(bare);

    CHoverButton tipped;
    tipped.SetBitmap(kBmpFolder);
    tipped.SetTooltip(kStrTipFolder, true);
    tipped.SetTooltip(1099, false);
    Enter(tipped);
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), LoadViewerString(kStrTipFolder));
    Leave(tipped);
    EXPECT_TRUE(TipHidden());
}

TEST(PictureCtrl, stretches_its_image_over_the_whole_control)
{
    CPictureCtrl picture(nullptr, kImgPanelBackground, true);
    const QImage image = Rgb32(ViewerImage(kImgPanelBackground));
    picture.resize(image.size());
    EXPECT_EQ(Grab(picture), image);

    picture.resize(image.width() * 2, image.height() * 2);
    const QRect small = BrightArea(image), large = BrightArea(Grab(picture));
    EXPECT_NEAR(large.left(), small.left() * 2, 2);
    EXPECT_NEAR(large.top(), small.top() * 2, 2);
    EXPECT_NEAR(large.width(), small.width() * 2, 3);
    EXPECT_NEAR(large.height(), small.height() * 2, 3);
}

TEST(PictureCtrl, shows_the_panel_blue_where_no_picture_is)
{
    CPictureCtrl picture;
    EXPECT_TRUE(picture.LoadImage(kImgPanelBackground));
    EXPECT_FALSE(picture.LoadImage(214)); // no image of the control's own id
    picture.resize(60, 40);
    const QImage shown = Grab(picture);
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            ASSERT_EQ(shown.pixel(x, y), kPanelBlueRgb) << x << "," << y;
}

// The dialog shown non-modally against a camera that wants "admin" / "secret".
class AuthorizationDlgTest : public ::testing::Test
{
protected:
    void StartCamera(camsim::Config config)
    {
        camera = std::make_unique<camsim::Camera>(std::move(config));
        ASSERT_TRUE(camera->Start());
    }
    void SetUp() override
    {
        camsim::Config config;
        config.user = "admin";
        config.password = "secret";
        config.ptctrl = "auto";
        config.ioctrl = "in1";
        StartCamera(config);
    }

    void Open(AuthorizationProfile profile)
    {
        const std::string url =
            profile == AuthorizationProfile::Viewer ? camera->BaseUrl() + "img/query.cgi" : "";
        dlg = std::make_unique<CAuthorizationDlg>(profile, url);
        dlg->SetMessageHook([this](QWidget*, const QString& text) { messages.push_back(text); });
        user = dlg->findChild<QLineEdit*>(QStringLiteral("userNameEdit"));
        password = dlg->findChild<QLineEdit*>(QStringLiteral("passwordEdit"));
        ok = dlg->findChild<QPushButton*>(QStringLiteral("okButton"));
        cancel = dlg->findChild<QPushButton*>(QStringLiteral("cancelButton"));
        ASSERT_TRUE(user && password && ok && cancel);
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    }

    // Types into the fields as the user would and presses OK.
    void Submit(const QString& name, const QString& pass)
    {
        user->clear();
        QTest::keyClicks(user, name);
        password->setFocus();
        password->clear();
        QTest::keyClicks(password, pass);
        QTest::mouseClick(ok, Qt::LeftButton);
    }

    bool ClosedWithOk() const { return !dlg->isVisible() && dlg->result() == QDialog::Accepted; }
    bool StillOpen() const { return dlg->isVisible() && dlg->result() != QDialog::Accepted; }

    std::unique_ptr<camsim::Camera> camera;
    std::unique_ptr<CAuthorizationDlg> dlg;
    QLineEdit* user = nullptr;
    QLineEdit* password = nullptr;
    QPushButton* ok = nullptr;
    QPushButton* cancel = nullptr;
    std::vector<QString> messages;
};

TEST_F(AuthorizationDlgTest, third_rejection_closes_with_ok_and_a_count_of_three)
{
    Open(AuthorizationProfile::Viewer);
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_NE(dlg->findChild<QLabel*>(QStringLiteral("authorizationLabel")), nullptr);
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE(attempt);
        Submit(QStringLiteral("admin"), QStringLiteral("wrong"));
        ASSERT_TRUE(StillOpen());
        EXPECT_EQ(dlg->Rejections(), attempt);
        EXPECT_TRUE(password->text().isEmpty());
        EXPECT_EQ(user->text(), QStringLiteral("admin"));
        EXPECT_EQ(dlg->focusWidget(), user);
    }
    Submit(QStringLiteral("admin"), QStringLiteral("wrong"));
    EXPECT_TRUE(ClosedWithOk());
    EXPECT_EQ(dlg->Rejections(), 3);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    const auto requests = camera->Requests();
    ASSERT_FALSE(requests.empty());
    for (const camsim::RequestRecord& r : requests) {
        EXPECT_EQ(r.endpoint, "img/query.cgi");
        EXPECT_FALSE(r.authorized);
    }
}

TEST_F(AuthorizationDlgTest, accepted_credentials_close_with_the_camera_state)
{
    Open(AuthorizationProfile::Viewer);
    Submit(QStringLiteral("admin"), QStringLiteral("wrong"));
    ASSERT_TRUE(StillOpen());
    Submit(QStringLiteral("admin"), QStringLiteral("secret"));
    ASSERT_TRUE(ClosedWithOk());
    EXPECT_EQ(dlg->Rejections(), 1);
    EXPECT_EQ(dlg->UserName(), "admin");
    EXPECT_EQ(dlg->Password(), "secret");
    EXPECT_EQ(dlg->PtCtrl(), "auto");
    EXPECT_EQ(dlg->IoCtrl(), "in1");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    const auto requests = camera->Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_TRUE(requests.back().authorized);
    EXPECT_EQ(requests.back().authUser, "admin");
}

TEST_F(AuthorizationDlgTest, reply_values_follow_the_carriage_return_rule)
{
    camera.reset();
    camsim::Config open;
    camera = std::make_unique<camsim::Camera>(open);
    // No "ptctrl=" at all, and an "ioctrl=" that no carriage return ends.
    camera->AddEndpoint("GET", "img/query.cgi", [](const httplib::Request&, httplib::Response& r) {
        r.set_content("model=x\r\nioctrl=on", "text/plain");
    });
    ASSERT_TRUE(camera->Start());
    Open(AuthorizationProfile::Viewer);
    Submit(QStringLiteral("guest"), QString());
    ASSERT_TRUE(ClosedWithOk());
    EXPECT_EQ(dlg->PtCtrl(), "off");
    EXPECT_EQ(dlg->IoCtrl(), "");
    EXPECT_EQ(dlg->Password(), "");
    ASSERT_EQ(camera->Requests().size(), 1u);
}

TEST_F(AuthorizationDlgTest, unreachable_camera_gives_the_message_and_keeps_the_dialog_open)
{
    Open(AuthorizationProfile::Viewer);
    camera->Stop();
    Submit(QStringLiteral("admin"), QStringLiteral("secret"));
    EXPECT_TRUE(StillOpen());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], LoadViewerString(1007));
    EXPECT_EQ(dlg->Rejections(), 0);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(AuthorizationDlgTest, cancel_closes_rejected_and_stores_nothing)
{
    Open(AuthorizationProfile::Viewer);
    QTest::keyClicks(user, QStringLiteral("admin"));
    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    EXPECT_EQ(dlg->UserName(), "");
    EXPECT_TRUE(camera->Requests().empty());
}

TEST_F(AuthorizationDlgTest, motion_zone_variant_only_collects_the_texts)
{
    Open(AuthorizationProfile::MotionZone);
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Autorisation"));
    EXPECT_EQ(dlg->findChild<QLabel*>(QStringLiteral("authorizationLabel")), nullptr);
    Submit(QStringLiteral("admin"), QStringLiteral("whatever"));
    ASSERT_TRUE(ClosedWithOk());
    EXPECT_EQ(dlg->UserName(), "admin");
    EXPECT_EQ(dlg->Password(), "whatever");
    EXPECT_EQ(dlg->PtCtrl(), "off");
    EXPECT_TRUE(camera->Requests().empty());
    EXPECT_TRUE(messages.empty());
}

} // namespace
