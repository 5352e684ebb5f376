// The panel's play life cycle: the camera query of SetSource, StartPlay with its util query,
// StopPlay, and what the workers' results do.

#include "viewer/viewer_panel.h"

#include "viewer/authorization_dlg.h"
#include "viewer/camera_query.h"
#include "viewer/strings.h"

#include <QComboBox>
#include <QLabel>

// --- Capability query and login ---------------------------------------------------------------

bool CViewerPanel::SetSource(const std::string& url, const std::string& frameType,
                             const std::string& panTilt, const std::string& frameRate)
{
    const CLiveWait::Operation op(m_live);
    if (!op)
        return true;
    m_frameType = frameType;
    m_play.AcceptResults();
    const CameraUrls urls = BuildCameraUrls(url, frameType);
    m_base = urls.base;
    m_panTiltUrl = urls.panTilt;
    m_utilUrl = urls.utilQuery;
    m_presetsUrl = urls.presets;
    m_imageUrl = urls.imageQuery;
    m_asfUrl = urls.asfStream;
    m_mjpegUrl = urls.mjpegStream;
    m_panTilt = panTilt;
    m_frameRate = frameRate;
    m_user.clear();
    m_password.clear();

    std::string reply;
    CHttpPoster poster(kViewerPosterProfile, m_timings.poster, &m_live);
    if (!poster.Request(reply, m_imageUrl, false, m_user, m_password)) {
        m_connected = false;
        ShowUpperMessage(1007);
        return true;
    }
    if (IsAuthorizationPage(reply)) {
        std::string ptctrl, ioctrl;
        if (!Login(ptctrl, ioctrl)) {
            m_connected = false;
            ShowUpperMessage(1006);
            return true;
        }
        m_panTilt = ptctrl;
        m_ioState = ioctrl;
    }
    if (auto v = QueryValue(reply, "ptctrl="))
        m_panTilt = *v;
    if (auto v = QueryValue(reply, "ioctrl="))
        m_ioState = *v;

    m_connected = true;
    if (m_hasWindow)
        HandUrlsToClients(); // else the window's initialisation does it
    m_audioPlayer->SetPlayAudio();
    m_mjpegPainter->View().SetZoomActive(false);
    m_mpegPainter->View().SetZoomActive(false);
    m_configured = true;
    return true;
}

bool CViewerPanel::Login(std::string& ptctrl, std::string& ioctrl)
{
    // A window that is closing asks nobody for credentials.
    if (m_live.Cancelled())
        return false;
    CAuthorizationDlg dlg(AuthorizationProfile::Viewer, m_imageUrl, this);
    if (!m_live.Modal([&] { return m_hooks.runLogin(dlg); }) || dlg.Rejections() > 2)
        return false;
    m_user = dlg.UserName();
    m_password = dlg.Password();
    ptctrl = dlg.PtCtrl();
    ioctrl = dlg.IoCtrl();
    return true;
}

void CViewerPanel::HandUrlsToClients()
{
    m_play.HandOver(m_asfUrl, m_mjpegUrl, m_user, m_password);
}

void CViewerPanel::RunUtilQuery()
{
    std::string reply;
    // The outcome is not looked at: a failed request leaves an empty reply that finds nothing.
    CHttpPoster(kViewerPosterProfile, m_timings.poster, &m_live)
        .Request(reply, m_utilUrl, false, m_user, m_password);
    if (auto type = QueryValue(reply, "type="))
        m_frameType = *type == "mpeg4" ? "mpeg" : "jpeg";
    if (auto voice = QueryValue(reply, "voice_out="))
        m_voiceOut = *voice;
    if (auto resolutions = QueryValue(reply, "resolutions=")) {
        const QSignalBlocker quiet(m_resolutions);
        m_resolutions->clear();
        for (const std::string& entry : ResolutionEntries(*resolutions))
            m_resolutions->addItem(QString::fromStdString(entry));
        m_resolutions->setCurrentIndex(-1);
        OnResolutionChosen();
    }
}

// --- Play, stop, restart ----------------------------------------------------------------------

void CViewerPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_hasWindow)
        return;
    m_hasWindow = true;
    // A page may rely on this: it calls SetSource before the control is shown, never StartPlay.
    // From the event loop rather than inside the show, which a host may answer by deleting the
    // control while the camera is asked.
    if (m_configured)
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_live.RunInTurn([this] {
                    HandUrlsToClients();
                    StartPlay(0, "");
                });
            },
            Qt::QueuedConnection);
}

void CViewerPanel::StartPlay(int record, const std::string& recordFileName)
{
    const CLiveWait::Operation op(m_live);
    if (!op || !m_connected)
        return;
    RunUtilQuery();
    PlayRequest request;
    request.mpeg = m_frameType == "mpeg";
    request.url = request.mpeg ? m_asfUrl : MJpegUrlWithRate(m_mjpegUrl, m_frameRate);
    request.user = m_user;
    request.password = m_password;
    request.record = request.mpeg && record != 0;
    request.recordFileName = recordFileName;
    if (m_play.Start(request))
        update();
}

void CViewerPanel::StopPlay()
{
    const CLiveWait::Operation op(m_live);
    if (op && m_connected)
        m_play.Stop(m_live);
}

void CViewerPanel::OnPlayerResult(int code, intptr_t run)
{
    const CLiveWait::Operation op(m_live);
    if (!op)
        return;
    switch (m_play.OnResult(code, run)) {
    case ResultAction::Ignore:
        return;
    case ResultAction::Busy:
        StopPlay();
        m_upperLine->hide();
        m_lowerLine->hide();
        ShowStrip(false);
        m_live.Modal([&] { m_hooks.showBusy(LoadViewerString(1008), QStringLiteral("Wrong")); });
        return;
    case ResultAction::Restart:
        StopPlay();
        if (m_play.Accepting()) {
            ++m_restarts;
            StartPlay(0, m_play.RecordFileName()); // a restart never records
        }
        return;
    }
}

ViewerStats CViewerPanel::Stats() const
{
    ViewerStats s;
    s.painted = m_mjpegPainter->Painted() + m_mpegPainter->Painted();
    s.decodeFailures = m_mjpegPainter->DecodeFailures() + m_mpegPainter->DecodeFailures();
    s.restarts = m_restarts;
    s.results = m_play.Results();
    s.drift = m_readouts.Drift();
    s.latency = m_readouts.Latency();
    return s;
}

AvReadoutInputs CViewerPanel::ReadoutInputs()
{
    const bool asf = m_frameType == "mpeg";
    AvReadoutInputs in;
    in.picture = CurrentView()->Painted().Last();
    in.avSync = asf ? m_mpegPainter->AvSync() : m_mjpegPainter->AvSync();
    in.clock = m_clock.Get();
    // A Motion-JPEG stream says nothing of when its time 0 was.
    in.streamStartUnixMs = asf ? m_asfPlayer->StreamStartUnixMs() : 0;
    return in;
}
