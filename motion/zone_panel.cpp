#include "motion/zone_panel.h"

#include "motion/zone_module.h"
#include "motion/zone_strings.h"
#include "viewer/authorization_dlg.h"
#include "viewer/message_line.h"
#include "viewer/picture_ctrl.h"
#include "viewer/resources.h"
#include "viewer/window_message.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPaintEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTimerEvent>

#include <algorithm>

namespace {

// The wait cursor over a blocking step; nests.
class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// What a save takes from a control: the user's value where they changed it, else the record's.
// A control may show a value clamped to its range, or one older than the last read, and saving
// that back would overwrite the camera's setting with a value nobody chose.
int32_t Edited(int now, int shown, int32_t held)
{
    return now != shown ? now : held;
}

} // namespace

CZonePanel::CZonePanel(QWidget* parent, const ZoneTimings& timings, ZoneHooks hooks)
    : QWidget(parent), m_timings(timings), m_hooks(std::move(hooks))
{
    if (!m_hooks.runLogin)
        m_hooks.runLogin = [](CAuthorizationDlg& dlg) { return dlg.exec() == QDialog::Accepted; };
    for (int n = 1; n <= 4; ++n)
        m_zones[size_t(n - 1)] = std::make_unique<CZoneWnd>(n);
    setObjectName(QStringLiteral("zonePanel"));
    // The picture area is painted whole and the rest filled white by the paint handler.
    setAttribute(Qt::WA_OpaquePaintEvent);
    hide();
}

CZonePanel::~CZonePanel()
{
    CZoneModule& module = CZoneModule::Get();
    module.Recorded().Forget(this);
    if (module.liveOwner == this) {
        // The workers must not go on for a control that is gone: the next control of the
        // process could never go live.
        module.Player().Stop(m_timings.stopTimeoutMs);
        module.live = false;
        module.liveOwner = nullptr;
    }
    for (auto& zone : m_zones)
        zone->Destroy();
}

void CZonePanel::Create()
{
    if (m_hasWindow)
        return;
    BuildControls();
    m_hasWindow = true;
    move(0, 0);
    resize(kWidth, kHeight);
    show();
    Initialise();
}

void CZonePanel::DestroyWindow()
{
    if (!m_hasWindow)
        return;
    for (int n = 1; n <= 4; ++n)
        StopMeter(n);
    for (auto& zone : m_zones)
        zone->Destroy();
    CZoneModule::Get().Recorded().Forget(this);
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        delete child;
    m_ui = {};
    m_hasWindow = false;
    hide();
}

void CZonePanel::BuildControls()
{
    m_ui = MakeZonePanelControls(this);
    for (int n = 1; n <= 4; ++n)
        connect(m_ui.enable[size_t(n - 1)], &QCheckBox::clicked, this,
                [this, n] { OnEnableClicked(n); });
    connect(m_ui.save, &QPushButton::clicked, this, [this] { SaveAreas(); });
    connect(m_ui.cancel, &QPushButton::clicked, this, [this] { OnCancel(); });
}

void CZonePanel::Initialise()
{
    const CLiveWait::Operation op(m_live);
    CZoneModule& module = CZoneModule::Get();
    if (module.live) {
        // Another panel of the process shows live video: this one stays empty.
        m_ui.placeholder->hide();
        return;
    }
    setCursor(Qt::ArrowCursor);
    update();
    WaitCursor wait;
    module.Recorded().Record(this);
    if (m_sourceSet)
        Connect();
}

void CZonePanel::Connect()
{
    m_configUrl = m_baseUrl + "/ocxparser.cgi";
    if (!ReadAreas())
        return;
    CAsfPlayer& player = CZoneModule::Get().Player();
    if (player.Finished())
        player.SetUrl(m_streamUrl, m_user, m_password);
    StartLive();
}

bool CZonePanel::SetSource(const std::string& url, const std::string& frameType, int ocxType)
{
    const CLiveWait::Operation op(m_live);
    if (!op)
        return true;
    if (CZoneModule::Get().live) {
        ShowMessage(kStrZoneConnectFailed);
        return false;
    }
    WaitCursor wait;
    m_baseUrl = url;
    m_frameType = frameType;
    m_ocxType = ocxType;
    m_sourceSet = true;
    m_streamUrl = url + "/img/video.asf";
    if (!m_hasWindow)
        return true;
    Connect();
    return true;
}

void CZonePanel::StopPlay()
{
    // Before any SetSource there is no camera to let go of.
    const CLiveWait::Operation op(m_live);
    if (!op || !m_hasWindow || !m_sourceSet)
        return;
    StopLive();
    DestroyWindow();
}

void CZonePanel::ShowMessage(int stringId)
{
    ShowFittedMessage(m_ui.message, LoadZoneString(stringId), kZoneMessageLine,
                      kZoneMessagePixels);
}

int CZonePanel::ReadAreas()
{
    WaitCursor wait;
    CZoneProtocol protocol(m_configUrl, m_timings.poster, &m_live);
    protocol.SetCredentials(m_user, m_password);
    const auto prompt = [this](std::string& user, std::string& password) {
        // A window that is closing asks nobody for credentials.
        if (m_live.Cancelled())
            return false;
        CAuthorizationDlg dlg(AuthorizationProfile::MotionZone, {}, this);
        if (!m_live.Modal([&] { return m_hooks.runLogin(dlg); }))
            return false;
        user = dlg.UserName();
        password = dlg.Password();
        return true;
    };
    const ZoneOutcome outcome = protocol.Read(m_config, prompt);
    // Typed credentials are kept even when the read then fails.
    m_user = protocol.User();
    m_password = protocol.Password();
    if (outcome != ZoneOutcome::Ok) {
        ShowMessage(static_cast<int>(outcome));
        return 0;
    }
    m_lastResolution = m_config.resolution;
    for (int n = 1; n <= 4; ++n)
        StartMeter(n);
    return 1;
}

void CZonePanel::SaveAreas()
{
    const CLiveWait::Operation op(m_live);
    if (!op)
        return;
    WaitCursor wait;
    // Every type of control saves as the full mode does.
    m_config.resolution = 3;
    for (int n = 1; n <= 4; ++n) {
        const size_t i = size_t(n - 1);
        ZoneSettings& z = m_config.zones[i];
        z.enable = Edited(m_ui.enable[i]->isChecked() ? 1 : 0, m_shown[i].enable, z.enable != 0);
        if (!z.enable)
            continue;
        ZoneRectInPicture(n);
        z.threshold = Edited(m_ui.threshold[i]->value(), m_shown[i].threshold, z.threshold);
        z.sensitivity = Edited(m_ui.sensitivity[i]->value(), m_shown[i].sensitivity, z.sensitivity);
    }
    const std::string body = ZoneSaveBody(m_config, m_lastResolution);
    HaltStream();
    CZoneProtocol protocol(m_configUrl, m_timings.poster, &m_live);
    protocol.SetCredentials(m_user, m_password);
    const ZoneOutcome outcome = protocol.Save(body);
    if (outcome == ZoneOutcome::ConnectFailed) {
        ShowMessage(kStrZoneConnectFailed);
        return;
    }
    if (outcome != ZoneOutcome::Ok)
        return; // not confirmed: the video stays halted, silently
    m_live.Sleep(m_timings.restartWait);
    if (!m_live.Orphaned())
        StartLive();
}

void CZonePanel::SendOcxFree()
{
    CZoneProtocol protocol(m_configUrl, m_timings.poster, &m_live);
    protocol.SetCredentials(m_user, m_password);
    if (protocol.Release() == ZoneOutcome::ConnectFailed)
        ShowMessage(kStrZoneConnectFailed);
}

void CZonePanel::StartLive()
{
    CZoneModule& module = CZoneModule::Get();
    CAsfPlayer& player = module.Player();
    if (!player.Finished())
        return;
    // The panel that goes live is the one that paints and hears the workers' results.
    module.Recorded().Record(this);
    player.SetTimings(m_timings.asf);
    player.SetUrl(m_streamUrl, m_user, m_password);
    player.Start();
    ShowZoneControls();
    update();
    module.live = true;
    module.liveOwner = this;
}

void CZonePanel::HaltStream()
{
    CZoneModule& module = CZoneModule::Get();
    if (module.liveOwner && module.liveOwner != this)
        return; // another panel's video
    m_live.Sleep(m_timings.haltWait);
    if (!module.Player().Finished())
        module.Player().Stop(m_timings.stopTimeoutMs, m_live);
    module.live = false;
    module.liveOwner = nullptr;
}

void CZonePanel::StopLive()
{
    HaltStream();
    for (int n = 1; n <= 4; ++n)
        StopMeter(n);
    for (auto& zone : m_zones)
        zone->Destroy();
    WaitCursor wait;
    SendOcxFree();
}

void CZonePanel::ShowZoneControls()
{
    if (!m_hasWindow)
        return;
    m_ui.placeholder->setGeometry(kPictureArea);
    m_ui.background->LoadImage(kImgZoneBackground);
    update();
    for (int n = 1; n <= 4; ++n) {
        const ZoneSettings& z = m_config.zones[size_t(n - 1)];
        PlaceZone(n, z.enable, z.x1, z.y1, z.x2, z.y2);
        m_ui.enable[size_t(n - 1)]->setChecked(z.enable != 0);
        m_ui.threshold[size_t(n - 1)]->setValue(z.threshold);
        m_ui.sensitivity[size_t(n - 1)]->setValue(z.sensitivity);
        // As the controls took them: a slider clamps to its range.
        ZoneSettings& shown = m_shown[size_t(n - 1)];
        shown.enable = m_ui.enable[size_t(n - 1)]->isChecked() ? 1 : 0;
        shown.threshold = m_ui.threshold[size_t(n - 1)]->value();
        shown.sensitivity = m_ui.sensitivity[size_t(n - 1)]->value();
    }
    m_ui.placeholder->hide();
    m_ui.background->show();
    for (int i = 0; i < 4; ++i) {
        const bool editable = i < 2; // the picture frames zones 1 and 2 only
        m_ui.enable[size_t(i)]->setVisible(editable);
        m_ui.threshold[size_t(i)]->setVisible(editable);
        m_ui.level[size_t(i)]->setVisible(editable);
        m_ui.sensitivity[size_t(i)]->hide();
        if (editable) {
            m_ui.enable[size_t(i)]->raise();
            m_ui.threshold[size_t(i)]->raise();
            m_ui.level[size_t(i)]->raise();
        }
    }
    m_ui.save->show();
    m_ui.ok->hide();
    m_ui.cancel->hide();
    m_ui.message->hide();
}

QRect CZonePanel::PictureRect() const
{
    return m_ui.placeholder ? m_ui.placeholder->geometry() : kPictureArea;
}

void CZonePanel::PlaceZone(int n, int enable, int x1, int y1, int x2, int y2)
{
    CZoneWnd& zone = *m_zones[size_t(n - 1)];
    if (!enable) {
        if (zone.Exists())
            zone.Window()->hide();
        return;
    }
    if (!zone.Exists())
        zone.Create(this, QRect(x1 + kPictureArea.x(), y1 + kPictureArea.y(), x2 - x1, y2 - y1),
                    [this] { return PictureRect(); });
    zone.Window()->show();
}

void CZonePanel::ZoneRectInPicture(int n)
{
    CZoneWnd& zone = *m_zones[size_t(n - 1)];
    if (!zone.Exists())
        return;
    const QRect w = zone.Window()->geometry(), p = PictureRect();
    const ZoneRect r = RectInPicture({w.left(), w.top(), w.left() + w.width(), w.top() + w.height()},
                                     {p.left(), p.top(), p.left() + p.width(), p.top() + p.height()});
    ZoneSettings& z = m_config.zones[size_t(n - 1)];
    z.x1 = r.left;
    z.y1 = r.top;
    z.x2 = r.right;
    z.y2 = r.bottom;
}

void CZonePanel::OnEnableClicked(int n)
{
    ZoneSettings& z = m_config.zones[size_t(n - 1)];
    z.enable = m_ui.enable[size_t(n - 1)]->isChecked() ? 1 : 0;
    if (z.enable) {
        StartMeter(n);
    } else {
        StopMeter(n);
        m_ui.level[size_t(n - 1)]->setValue(0);
    }
    PlaceZone(n, z.enable, z.x1, z.y1, z.x2, z.y2);
}

void CZonePanel::OnCancel()
{
    const CLiveWait::Operation op(m_live);
    if (!op)
        return;
    m_live.Sleep(m_timings.cancelWait);
    if (ReadAreas())
        StartLive();
}

void CZonePanel::StartMeter(int n)
{
    StopMeter(n);
    m_meterTimers[size_t(n - 1)] = startTimer(m_timings.meterPeriod);
}

void CZonePanel::StopMeter(int n)
{
    int& id = m_meterTimers[size_t(n - 1)];
    if (id)
        killTimer(id);
    id = 0;
}

bool CZonePanel::MetersRunning() const
{
    return std::all_of(m_meterTimers.begin(), m_meterTimers.end(), [](int id) { return id != 0; });
}

void CZonePanel::timerEvent(QTimerEvent* event)
{
    const auto levels = CZoneModule::Get().Player().ZoneLevels();
    for (int n = 1; n <= 4; ++n) {
        if (event->timerId() != m_meterTimers[size_t(n - 1)] || !m_zones[size_t(n - 1)]->Exists())
            continue;
        const int level = levels[size_t(n - 1)];
        m_config.zones[size_t(n - 1)].level = level;
        // Above the bar's range it shows full.
        m_ui.level[size_t(n - 1)]->setValue(std::min(level, m_ui.level[size_t(n - 1)]->maximum()));
    }
    QWidget::timerEvent(event);
}

void CZonePanel::keyPressEvent(QKeyEvent* event)
{
    // The dialog's default keys: Escape reads again and restarts; Enter has no effect.
    if (event->key() == Qt::Key_Escape) {
        OnCancel();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CZonePanel::Post(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    WindowMessageEvent::PostTo(this, message, wParam, lParam);
}

bool CZonePanel::event(QEvent* e)
{
    if (e->type() == WindowMessageEvent::Type()) {
        auto* m = static_cast<WindowMessageEvent*>(e);
        const uint32_t message = m->message;
        const uintptr_t wParam = m->wParam;
        if (message == WM_PLAYER_RESULT) {
            // While the panel waits, a result would stop the stream under the waiting call.
            m_live.RunInTurn([this, message, wParam] {
                if (m_hasWindow)
                    OnPlayerResult(static_cast<int>(wParam));
                emit MessageHandled(message, wParam);
            });
            return true;
        }
        if (message == WM_ZONE_PICTURE && m_hasWindow)
            update(kPictureArea);
        emit MessageHandled(message, wParam);
        return true;
    }
    return QWidget::event(e);
}

void CZonePanel::OnPlayerResult(int code)
{
    // Other codes end the video quietly: the picture stops changing.
    const CLiveWait::Operation op(m_live);
    if (!op || code != kResultBusy)
        return;
    StopLive();
    HideEverything();
    ShowMessage(kStrZoneConnectFailed);
}

void CZonePanel::HideEverything()
{
    m_ui.placeholder->hide();
    m_ui.background->hide();
    for (int i = 0; i < 4; ++i) {
        m_ui.enable[size_t(i)]->hide();
        m_ui.threshold[size_t(i)]->hide();
        m_ui.sensitivity[size_t(i)]->hide();
        m_ui.level[size_t(i)]->hide();
    }
    m_ui.save->hide();
    m_ui.ok->hide();
    m_ui.cancel->hide();
}

void CZonePanel::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    const QRegion outside = QRegion(event->rect()).subtracted(QRegion(kPictureArea));
    for (const QRect& part : outside)
        p.fillRect(part, Qt::white);
    if (event->rect().intersects(kPictureArea))
        PaintPicture(p);
}

void CZonePanel::PaintPicture(QPainter& painter)
{
    const CZonePainter& source = CZoneModule::Get().Painter();
    if (!source.HavePicture()) {
        painter.fillRect(kPictureArea, Qt::black);
        return;
    }
    // One off-screen image per paint, one copy to the screen: no flicker under the frames.
    QImage offscreen(kPictureArea.size(), QImage::Format_RGB32);
    if (offscreen.isNull())
        return;
    offscreen.fill(Qt::black);
    {
        QPainter off(&offscreen);
        source.WithPicture([&](const uint8_t* rgb, int width, int height) {
            const QImage picture(rgb, width, height, width * 3, QImage::Format_BGR888);
            // Rows are stored bottom-up.
            off.translate(0, kPictureArea.height());
            off.scale(1, -1);
            off.drawImage(QRect(QPoint(0, 0), kPictureArea.size()), picture);
        });
    }
    painter.drawImage(kPictureArea.topLeft(), offscreen);
}
