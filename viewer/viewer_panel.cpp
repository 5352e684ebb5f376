#include "viewer/viewer_panel.h"

#include "viewer/authorization_dlg.h"
#include "viewer/camera_query.h"
#include "platform/settings.h"
#include "viewer/hover_button.h"
#include "viewer/message_line.h"
#include "viewer/pan_tilt.h"
#include "viewer/picture_ctrl.h"
#include "viewer/picture_folder.h"
#include "viewer/resources.h"
#include "viewer/snapshot.h"
#include "viewer/strings.h"
#include "viewer/window_message.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFontInfo>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QFileDialog>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <filesystem>

#include <cstdio>

namespace {

// The surface has a new picture; internal to the panel, coalesced.
constexpr uint32_t kSurfaceUpdated = 0x1B10;

const QColor kPanelBlue(77, 76, 203);
// Under the strip's buttons; the snapshot's failure shows here.
constexpr QRect kLowerLine{10, 160, 126, 40};

} // namespace

CViewerPanel::CViewerPanel(QWidget* parent, const ViewerTimings& timings, ViewerHooks hooks)
    : QWidget(parent), m_timings(timings), m_hooks(std::move(hooks)),
      m_play(*this, PlayTimings{timings.stopPlaySleep, timings.stopTimeoutMs})
{
    if (!m_hooks.runLogin)
        m_hooks.runLogin = [](CAuthorizationDlg& dlg) { return dlg.exec() == QDialog::Accepted; };
    if (!m_hooks.showBusy)
        m_hooks.showBusy = [this](const QString& text, const QString& caption) {
            QMessageBox::warning(this, caption, text, QMessageBox::Ok);
        };
    if (!m_hooks.openBrowser)
        m_hooks.openBrowser = [](const QString& argument) {
            // One argument, no shell: nothing in the page's text is interpreted.
            QProcess::startDetached(QStringLiteral("xdg-open"), {argument});
        };

    if (!m_hooks.chooseFolder)
        m_hooks.chooseFolder = [](QWidget* owner, const QString& title,
                                  const QString& initial) -> std::optional<QString> {
            QString chosen = QFileDialog::getExistingDirectory(owner, title, initial);
            if (chosen.isEmpty())
                return std::nullopt;
            return chosen;
        };
    if (!m_hooks.localTime)
        m_hooks.localTime = [] {
            std::time_t now = std::time(nullptr);
            std::tm local{};
            localtime_r(&now, &local);
            return local;
        };
    if (m_hooks.settingsPath.empty())
        m_hooks.settingsPath = platform::SettingsStore::DefaultPath().string();
    if (m_hooks.desktopPictures.empty())
        m_hooks.desktopPictures =
            QStandardPaths::writableLocation(QStandardPaths::PicturesLocation).toStdString();

    m_audioPlayer = std::make_unique<CAudioPlayer>(
        m_audioQueue, m_clock, &m_play,
        m_hooks.soundDevice ? m_hooks.soundDevice : CAudioPlayer::DeviceFromOptions({}));
    m_mpegPainter =
        std::make_unique<CMpeg4Painter>(m_videoQueue, m_clock, m_videoCap, &m_surface, &m_play);
    m_mjpegPainter = std::make_unique<CMJpegPainter>(m_videoQueue, m_clock, &m_surface, &m_play);
    m_asfPlayer = std::make_unique<CAsfPlayer>(kViewerAsfProfile, m_videoQueue, &m_audioQueue,
                                               *m_mpegPainter, m_audioPlayer.get(), &m_play,
                                               &m_videoCap,
                                               m_timings.asf);
    m_mjpegPlayer = std::make_unique<CMJpegPlayer>(m_videoQueue, m_audioQueue, *m_mjpegPainter,
                                                   m_audioPlayer.get(), &m_play, m_timings.mjpeg);
    m_play.Attach({*m_asfPlayer, *m_mjpegPlayer, *m_mpegPainter, *m_mjpegPainter, *m_audioPlayer,
                   m_clock});
    m_surface.SetNotifier([this] {
        if (!m_repaintPending.exchange(true))
            Post(kSurfaceUpdated, 0, 0);
    });
    BuildControls();
    auto* readouts = new QTimer(this);
    connect(readouts, &QTimer::timeout, this, [this] { m_readouts.Sample(ReadoutInputs()); });
    readouts->start(int(m_timings.readoutPeriod.count()));
}

CViewerPanel::~CViewerPanel()
{
    // Clients first (their stop procedures stop the painters), then the painters, then the queues.
    m_asfPlayer.reset();
    m_mjpegPlayer.reset();
    m_mpegPainter.reset();
    m_mjpegPainter.reset();
    m_audioPlayer.reset();
    m_audioQueue.Clear();
    m_videoQueue.Clear();
}

void CViewerPanel::BuildControls()
{
    resize(kWidth, kHeight);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kPanelBlue);
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);

    m_picture = new CPictureCtrl(this);
    m_picture->LoadImage(260);
    m_picture->setGeometry(0, 0, 136, 154);

    m_videoFrame = new QFrame(this);
    m_videoFrame->setFrameShape(QFrame::Box);
    m_videoFrame->setStyleSheet(QStringLiteral("QFrame { color: black; background: transparent; }"));
    m_videoFrame->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_videoFrame->setGeometry(143, 0, 646, 486);

    m_upperLine = new QLabel(QStringLiteral("Message"), this);
    QFont bold = font();
    bold.setPixelSize(22);
    bold.setBold(true);
    m_upperLine->setFont(bold);
    m_upperLine->setWordWrap(true);
    m_upperLine->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_upperLine->setGeometry(10, 10, 289, 100);

    m_lowerLine = new QLabel(QStringLiteral("Message"), this);
    m_lowerLine->setGeometry(kLowerLine);

    m_resolutions = new QComboBox(this);
    m_resolutions->setGeometry(10, 26, 120, 20);
    connect(m_resolutions, &QComboBox::currentIndexChanged, this,
            [this](int) { OnResolutionChosen(); });

    auto button = [this](int id, int x, int y, int bitmap, int tooltip, void (CViewerPanel::*action)()) {
        auto* b = new CHoverButton(this);
        b->setObjectName(QStringLiteral("button%1").arg(id));
        b->move(x, y);
        b->SetBitmap(bitmap);
        b->SetTooltip(tooltip, true);
        if (action)
            connect(b, &QAbstractButton::clicked, this, action);
        return b;
    };
    m_zoom = button(207, 10, 62, 259, 1009, &CViewerPanel::OnZoom);
    m_snapshot = button(211, 49, 62, 258, 1010, nullptr);
    connect(m_snapshot, &QAbstractButton::clicked, this, [this] { OnSnapshot(); });
    m_folder = button(212, 89, 62, 253, 1011, &CViewerPanel::OnFolder);
    m_flip = button(208, 10, 100, 254, 1012, &CViewerPanel::OnFlip);
    m_mirror = button(209, 49, 100, 256, 1013, &CViewerPanel::OnMirror);
    m_rotate = button(210, 89, 100, 257, 1014, &CViewerPanel::OnRotate);

    ShowStrip(false);
    m_upperLine->hide();
    m_lowerLine->hide();

    m_pictureFolder =
        ReadPictureFolder(platform::SettingsStore(m_hooks.settingsPath), m_hooks.desktopPictures);

    const QSignalBlocker quiet(m_resolutions);
    m_resolutions->clear();
    m_resolutions->addItems({QStringLiteral("640x480"), QStringLiteral("320x240"),
                             QStringLiteral("160x120")});
    m_resolutions->setCurrentIndex(-1);
}

CHoverButton* CViewerPanel::Button(int id) const
{
    switch (id) {
    case 207: return m_zoom;
    case 208: return m_flip;
    case 209: return m_mirror;
    case 210: return m_rotate;
    case 211: return m_snapshot;
    case 212: return m_folder;
    default: return nullptr;
    }
}

void CViewerPanel::ShowStrip(bool visible)
{
    for (QWidget* w : std::initializer_list<QWidget*>{m_picture, m_videoFrame, m_resolutions, m_zoom,
                                                      m_flip, m_mirror, m_rotate, m_snapshot,
                                                      m_folder})
        w->setVisible(visible);
}

void CViewerPanel::ShowUpperMessage(int stringId)
{
    m_upperLine->setText(LoadViewerString(stringId));
    m_upperLine->show();
}

void CViewerPanel::Post(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    WindowMessageEvent::PostTo(this, message, wParam, lParam);
}

bool CViewerPanel::event(QEvent* e)
{
    if (e->type() == WindowMessageEvent::Type()) {
        auto* m = static_cast<WindowMessageEvent*>(e);
        HandleMessage(m->message, m->wParam, m->lParam);
        return true;
    }
    return QWidget::event(e);
}

void CViewerPanel::HandleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    switch (message) {
    case WM_PLAYER_RESULT:
        // While the panel waits, a result would restart the stream under the waiting call.
        m_live.RunInTurn([this, message, wParam, lParam] {
            OnPlayerResult(static_cast<int>(wParam), lParam);
            emit MessageHandled(message, wParam);
        });
        return;
    case WM_VIDEO_READY:
        OnVideoReady();
        break;
    case WM_AUDIO_READY:
        if (m_audioPlayer->IsOpen())
            m_audioPlayer->SetVolume(0); // full level
        break;
    case kSurfaceUpdated:
        m_repaintPending = false;
        update(QRect(kVideoLeft, kVideoTop, 646, 486));
        break;
    default:
        break;
    }
    emit MessageHandled(message, wParam);
}

CPaintStep* CViewerPanel::CurrentView()
{
    if (m_frameType == "mpeg")
        return &m_mpegPainter->View();
    return &m_mjpegPainter->View();
}

// --- Other scripting methods ------------------------------------------------------------------

void CViewerPanel::SetZoomPercent(int percent)
{
    // Reaches the MPEG-4 painter only, which holds it within 0 to 400.
    m_mpegPainter->View().SetZoomPercent(percent);
}

void CViewerPanel::SetPlayAudio()
{
    if (m_connected)
        m_audioPlayer->SetPlayAudio();
}

void CViewerPanel::StopPlayAudio()
{
    if (m_connected)
        m_audioPlayer->StopPlayAudio();
}

bool CViewerPanel::SetSize(int size)
{
    const CLiveWait::Operation op(m_live);
    int lineWidth = 449;
    if (size == 160) {
        m_sizeValue = 160;
        m_displayWidth = 160;
        m_displayHeight = 128;
        lineWidth = 289;
    } else if (size == 640) {
        m_sizeValue = 640;
        m_displayWidth = 640;
        m_displayHeight = 480;
        lineWidth = 769;
    } else {
        m_sizeValue = 320;
        m_displayWidth = 320;
        m_displayHeight = 240;
    }
    m_upperLine->setGeometry(10, 10, lineWidth, 100);
    if (m_frameType != "mpeg")
        m_mjpegPainter->View().SetDisplaySize(m_displayWidth, m_displayHeight);
    else
        m_mpegPainter->View().SetDisplaySize(m_displayWidth, m_displayHeight);
    m_videoFrame->setGeometry(143, 0, m_displayWidth + 6, m_displayHeight + 6);
    m_live.Sleep(m_timings.setSizeWait);
    update();
    return true;
}

void CViewerPanel::OpenSettingPage(const std::string& argument)
{
    m_hooks.openBrowser(QString::fromStdString(argument));
}

// --- Panel messages ---------------------------------------------------------------------------

void CViewerPanel::OnVideoReady()
{
    if (!m_mjpegPainter->Ready() && !m_mpegPainter->Ready())
        return;
    CPaintStep* view = CurrentView();
    if (!view)
        return;
    {
        const QSignalBlocker quiet(m_resolutions);
        const bool narrow = view->PictureWidth() == 160;
        m_resolutions->setCurrentIndex(narrow ? 2 : 1);
        m_sizeValue = narrow ? 160 : 320;
    }
    if (m_zoomArmed && m_zoomPlaced) {
        // The origin was placed in the last stream's picture: one beyond a smaller new picture
        // would show nothing from it, and the video would seem frozen.
        const int pw = view->PictureWidth(), ph = view->PictureHeight();
        m_zoomX0 = std::clamp(m_zoomX0, 0, std::max(0, pw - pw / 2));
        m_zoomY0 = std::clamp(m_zoomY0, 0, std::max(0, ph - ph / 2));
        view->SetZoomRect(m_zoomX0, m_zoomY0, pw / 2, ph / 2);
        view->SetZoomActive(true);
    }
    ShowStrip(true);
    m_upperLine->hide();
    m_lowerLine->setText(QString());
    m_lowerLine->show();
    update();
}

void CViewerPanel::OnResolutionChosen()
{
    m_sizeValue = SizeForResolutionText(m_resolutions->currentText().toStdString());
}

void CViewerPanel::SwitchZoomOff()
{
    m_zoomArmed = false;
    m_zoomPlaced = false;
    if (CPaintStep* view = CurrentView())
        view->SetZoomActive(false);
    m_zoomLeft = -1;
    m_zoomTop = -1;
    m_zoom->SetBitmap(259);
    unsetCursor();
}

void CViewerPanel::OnZoom()
{
    if (m_zoomArmed) {
        SwitchZoomOff();
        return;
    }
    m_zoomArmed = true;
    if (CPaintStep* view = CurrentView())
        view->SetTransform(kTransformNone);
    m_flipOn = m_mirrorOn = m_rotateOn = false;
    setCursor(ViewerCursor(224));
    m_zoom->SetBitmap(260);
    m_flip->SetBitmap(254);
    m_mirror->SetBitmap(256);
    m_rotate->SetBitmap(257);
}

void CViewerPanel::ApplyTransform(int mode)
{
    bool* flags[3] = {&m_flipOn, &m_mirrorOn, &m_rotateOn};
    bool& own = *flags[mode - 1];
    const bool on = !own;
    m_flipOn = m_mirrorOn = m_rotateOn = false;
    own = on;
    if (m_zoomArmed)
        SwitchZoomOff();
    OnResolutionChosen();
    if (CPaintStep* view = CurrentView())
        view->SetTransform(view->Transform() == mode ? kTransformNone : mode);
    m_flip->SetBitmap(m_flipOn ? 269 : 254);
    m_mirror->SetBitmap(m_mirrorOn ? 268 : 256);
    m_rotate->SetBitmap(m_rotateOn ? 267 : 257);
}

void CViewerPanel::OnFlip()
{
    ApplyTransform(kTransformFlip);
}

void CViewerPanel::OnMirror()
{
    ApplyTransform(kTransformMirror);
}

void CViewerPanel::OnRotate()
{
    ApplyTransform(kTransformRotate);
}

void CViewerPanel::Click(int x, int y)
{
    if (!(m_zoomArmed && !m_zoomPlaced)) {
        PanTiltClick(x, y);
        return;
    }
    CPaintStep* view = CurrentView();
    if (!view)
        return;
    const int dw = view->DisplayWidth(), dh = view->DisplayHeight();
    const int pw = view->PictureWidth(), ph = view->PictureHeight();
    if (x < kVideoLeft || x > dw + kVideoLeft || y < kVideoTop || y > dh + kVideoTop || dw <= 0 ||
        dh <= 0 || pw <= 0 || ph <= 0)
        return;
    auto window = [](int click, int origin, int d, int& low, int& high) {
        const int q = d / 4;
        low = click - q - origin;
        if (low < 0) {
            low = 0;
            high = d / 2;
        } else if (click - origin + q > d) {
            high = d;
            low = d / 2;
        } else {
            high = low + d / 2;
        }
    };
    window(x, kVideoLeft, dw, m_zoomLeft, m_zoomRight);
    window(y, kVideoTop, dh, m_zoomTop, m_zoomBottom);
    if (pw < dw) {
        m_zoomX0 = int(m_zoomLeft / (double(dw) / pw));
        m_zoomY0 = int(m_zoomTop / (double(dh) / ph));
    } else {
        m_zoomX0 = (pw / dw) * m_zoomLeft;
        m_zoomY0 = (ph / dh) * m_zoomTop;
    }
    view->SetZoomRect(m_zoomX0, m_zoomY0, pw / 2, ph / 2);
    view->SetZoomActive(true);
    m_zoomPlaced = true;
    unsetCursor();
}

void CViewerPanel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        Click(int(event->position().x()), int(event->position().y()));
    QWidget::mousePressEvent(event);
}

void CViewerPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), kPanelBlue);
    m_surface.WithFrame([&](const SurfaceFrame& f) {
        const QImage frame(f.pixels, f.width, f.height, f.stride, QImage::Format_BGR888);
        painter.drawImage(QRect(f.where.x, f.where.y, f.where.width, f.where.height), frame);
    });
}

// --- Pan/tilt, snapshots and the picture folder -----------------------------------------------

void CViewerPanel::PanTiltClick(int x, int y)
{
    if (m_panTilt != "on")
        return;
    CPaintStep* view = CurrentView();
    if (!view)
        return;
    const CLiveWait::Operation op(m_live);
    SendPanTiltClick(*view, x, y, m_panTiltUrl, m_user, m_password, m_timings.poster, &m_live);
}

void CViewerPanel::OnFolder()
{
    auto chosen = m_hooks.chooseFolder(this, QStringLiteral("Choose destination folder"),
                                       QString::fromStdString(m_pictureFolder));
    if (!chosen)
        return;
    const std::string folder = chosen->toStdString();
    platform::SettingsStore store(m_hooks.settingsPath);
    if (!WritePictureFolder(store, folder))
        return;
    m_pictureFolder = folder;
    std::error_code ec;
    std::filesystem::current_path(folder, ec);
}

std::string CViewerPanel::OnSnapshot()
{
    CPaintStep* view = CurrentView();
    if (!view)
        return {};
    const CLiveWait::Operation op(m_live);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const SavedSnapshot saved =
        SaveSnapshot(*view, {m_timings.snapshotPoll, m_timings.snapshotPolls}, m_pictureFolder,
                     m_hooks.localTime, m_live);
    QGuiApplication::restoreOverrideCursor();
    if (saved.notWritten)
        ShowFittedMessage(m_lowerLine, LoadViewerString(kStrSnapshotNotSaved), kLowerLine,
                          QFontInfo(font()).pixelSize());
    else if (!saved.file.empty())
        m_lowerLine->setText(QString());
    return saved.file;
}
