#include "motion/zone_panel.h"

#include "motion/zone_module.h"
#include "motion/zone_strings.h"
#include "viewer/authorization_dlg.h"
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
#include <QThread>
#include <QTimerEvent>

#include <algorithm>

namespace {

const QColor kZoneControlColour(236, 232, 205);

// The wait cursor over a blocking step; nests.
class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

void SleepFor(std::chrono::milliseconds ms)
{
    if (ms.count() > 0)
        QThread::msleep(static_cast<unsigned long>(ms.count()));
}

void Paint(QWidget* w, const QColor& colour)
{
    QPalette palette = w->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::Base, colour);
    palette.setColor(QPalette::Button, colour);
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::ButtonText, Qt::black);
    w->setPalette(palette);
    w->setAutoFillBackground(true);
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
    m_background = nullptr;
    m_placeholder = nullptr;
    m_message = nullptr;
    m_enable = {};
    m_threshold = {};
    m_sensitivity = {};
    m_level = {};
    m_save = m_ok = m_cancel = nullptr;
    m_hasWindow = false;
    hide();
}

void CZonePanel::BuildControls()
{
    Paint(this, Qt::white);
    m_background = new CPictureCtrl(this, 209);
    m_background->SetBackground(Qt::white);
    m_background->setObjectName(QStringLiteral("background"));
    m_placeholder = new QWidget(this);
    m_placeholder->setObjectName(QStringLiteral("picturePlaceholder"));
    m_placeholder->hide();
    for (int i = 0; i < 4; ++i) {
        const int n = i + 1;
        m_enable[size_t(i)] = new QCheckBox(this);
        m_enable[size_t(i)]->setObjectName(QStringLiteral("enable%1").arg(n));
        connect(m_enable[size_t(i)], &QCheckBox::clicked, this, [this, n] { OnEnableClicked(n); });
        m_level[size_t(i)] = new QProgressBar(this);
        m_level[size_t(i)]->setObjectName(QStringLiteral("level%1").arg(n));
        m_level[size_t(i)]->setTextVisible(false);
        m_threshold[size_t(i)] = new QSlider(Qt::Horizontal, this);
        m_threshold[size_t(i)]->setObjectName(QStringLiteral("threshold%1").arg(n));
        m_threshold[size_t(i)]->setTickPosition(QSlider::NoTicks);
        m_sensitivity[size_t(i)] = new QSlider(Qt::Horizontal, this);
        m_sensitivity[size_t(i)]->setObjectName(QStringLiteral("sensitivity%1").arg(n));
        m_sensitivity[size_t(i)]->setTickPosition(QSlider::NoTicks);
        for (QWidget* w : {static_cast<QWidget*>(m_enable[size_t(i)]),
                           static_cast<QWidget*>(m_level[size_t(i)]),
                           static_cast<QWidget*>(m_threshold[size_t(i)]),
                           static_cast<QWidget*>(m_sensitivity[size_t(i)])}) {
            Paint(w, kZoneControlColour);
            w->hide();
        }
    }
    m_save = new QPushButton(QStringLiteral("Enregistrer"), this);
    m_save->setObjectName(QStringLiteral("saveButton"));
    connect(m_save, &QPushButton::clicked, this, [this] { SaveAreas(); });
    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("okButton"));
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(m_cancel, &QPushButton::clicked, this, [this] { OnCancel(); });
    m_message = new QLabel(QStringLiteral("Message"), this);
    m_message->setObjectName(QStringLiteral("messageLine"));
    m_message->setWordWrap(true);
    for (QWidget* w : {static_cast<QWidget*>(m_save), static_cast<QWidget*>(m_ok),
                       static_cast<QWidget*>(m_cancel), static_cast<QWidget*>(m_message)}) {
        Paint(w, Qt::white);
        w->hide();
    }
}

void CZonePanel::LayOut()
{
    m_background->setGeometry(0, 0, 160, 195);
    m_placeholder->setGeometry(kPictureArea);
    for (int i = 0; i < 4; ++i) {
        const int dy = 95 * i;
        m_enable[size_t(i)]->setGeometry(12, 39 + dy, 15, 15);
        m_level[size_t(i)]->setGeometry(75, 42 + dy, 70, 8);
        m_level[size_t(i)]->setRange(0, 99);
        m_level[size_t(i)]->setValue(0);
        m_threshold[size_t(i)]->setGeometry(73, 58 + dy, 75, 14);
        m_threshold[size_t(i)]->setRange(0, 255);
        m_sensitivity[size_t(i)]->setGeometry(73, 76 + dy, 75, 14);
        m_sensitivity[size_t(i)]->setRange(0, 10);
    }
    m_save->setGeometry(40, 220, 75, 20);
    m_ok->setGeometry(235, 500, 75, 20);
    m_cancel->setGeometry(335, 500, 75, 20);
    m_message->setGeometry(15, 15, 320, 40);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(28);
    font.setWeight(QFont::Bold);
    m_message->setFont(font);
}

void CZonePanel::Initialise()
{
    CZoneModule& module = CZoneModule::Get();
    if (module.live) {
        // Another panel of the process shows live video: this one stays empty.
        m_placeholder->hide();
        return;
    }
    setCursor(Qt::ArrowCursor);
    update();
    WaitCursor wait;
    LayOut();
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
    if (!m_hasWindow || !m_sourceSet)
        return;
    StopLive();
    DestroyWindow();
}

void CZonePanel::ShowMessage(int stringId)
{
    if (!m_message)
        return;
    m_message->setText(LoadZoneString(stringId));
    m_message->show();
    m_message->raise();
}

int CZonePanel::ReadAreas()
{
    WaitCursor wait;
    CZoneProtocol protocol(m_configUrl, m_timings.poster);
    protocol.SetCredentials(m_user, m_password);
    const auto prompt = [this](std::string& user, std::string& password) {
        CAuthorizationDlg dlg(AuthorizationProfile::MotionZone, {}, this);
        if (!m_hooks.runLogin(dlg))
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
    WaitCursor wait;
    // Every type of control saves as the full mode does.
    m_config.resolution = 3;
    for (int n = 1; n <= 4; ++n) {
        ZoneSettings& z = m_config.zones[size_t(n - 1)];
        z.enable = m_enable[size_t(n - 1)]->isChecked() ? 1 : 0;
        if (!z.enable)
            continue;
        ZoneRectInPicture(n);
        z.threshold = m_threshold[size_t(n - 1)]->value();
        z.sensitivity = m_sensitivity[size_t(n - 1)]->value();
    }
    const std::string body = ZoneSaveBody(m_config, m_lastResolution);
    HaltStream();
    CZoneProtocol protocol(m_configUrl, m_timings.poster);
    protocol.SetCredentials(m_user, m_password);
    const ZoneOutcome outcome = protocol.Save(body);
    if (outcome == ZoneOutcome::ConnectFailed) {
        ShowMessage(kStrZoneConnectFailed);
        return;
    }
    if (outcome != ZoneOutcome::Ok)
        return; // not confirmed: the video stays halted, silently
    SleepFor(m_timings.restartWait);
    StartLive();
}

void CZonePanel::SendOcxFree()
{
    CZoneProtocol protocol(m_configUrl, m_timings.poster);
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
    SleepFor(m_timings.haltWait);
    if (!module.Player().Finished())
        module.Player().Stop(m_timings.stopTimeoutMs);
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
    m_placeholder->setGeometry(kPictureArea);
    m_background->LoadImage(kImgZoneBackground);
    update();
    for (int n = 1; n <= 4; ++n) {
        const ZoneSettings& z = m_config.zones[size_t(n - 1)];
        PlaceZone(n, z.enable, z.x1, z.y1, z.x2, z.y2);
        m_enable[size_t(n - 1)]->setChecked(z.enable != 0);
        m_threshold[size_t(n - 1)]->setValue(z.threshold);
        m_sensitivity[size_t(n - 1)]->setValue(z.sensitivity);
    }
    m_placeholder->hide();
    m_background->show();
    for (int i = 0; i < 4; ++i) {
        const bool editable = i < 2; // the picture frames zones 1 and 2 only
        m_enable[size_t(i)]->setVisible(editable);
        m_threshold[size_t(i)]->setVisible(editable);
        m_level[size_t(i)]->setVisible(editable);
        m_sensitivity[size_t(i)]->hide();
        if (editable) {
            m_enable[size_t(i)]->raise();
            m_threshold[size_t(i)]->raise();
            m_level[size_t(i)]->raise();
        }
    }
    m_save->show();
    m_ok->hide();
    m_cancel->hide();
    m_message->hide();
}

QRect CZonePanel::PictureRect() const
{
    return m_placeholder ? m_placeholder->geometry() : kPictureArea;
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
    z.enable = m_enable[size_t(n - 1)]->isChecked() ? 1 : 0;
    if (z.enable) {
        StartMeter(n);
    } else {
        StopMeter(n);
        m_level[size_t(n - 1)]->setValue(0);
    }
    PlaceZone(n, z.enable, z.x1, z.y1, z.x2, z.y2);
}

void CZonePanel::OnCancel()
{
    SleepFor(m_timings.cancelWait);
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
        m_level[size_t(n - 1)]->setValue(std::min(level, m_level[size_t(n - 1)]->maximum()));
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
        if (m->message == WM_PLAYER_RESULT && m_hasWindow)
            OnPlayerResult(static_cast<int>(m->wParam));
        else if (m->message == WM_ZONE_PICTURE && m_hasWindow)
            update(kPictureArea);
        emit MessageHandled(m->message, m->wParam);
        return true;
    }
    return QWidget::event(e);
}

void CZonePanel::OnPlayerResult(int code)
{
    // Other codes end the video quietly: the picture stops changing.
    if (code != kResultBusy)
        return;
    StopLive();
    HideEverything();
    ShowMessage(kStrZoneConnectFailed);
}

void CZonePanel::HideEverything()
{
    m_placeholder->hide();
    m_background->hide();
    for (int i = 0; i < 4; ++i) {
        m_enable[size_t(i)]->hide();
        m_threshold[size_t(i)]->hide();
        m_sensitivity[size_t(i)]->hide();
        m_level[size_t(i)]->hide();
    }
    m_save->hide();
    m_ok->hide();
    m_cancel->hide();
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
