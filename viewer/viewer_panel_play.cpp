// The panel's play life cycle: the camera query of SetSource, StartPlay with its util query,
// StopPlay, and what the workers' results do.

#include "viewer/viewer_panel.h"

#include "viewer/authorization_dlg.h"
#include "viewer/camera_query.h"
#include "viewer/strings.h"

#include <QComboBox>
#include <QLabel>
#include <QThread>

namespace {

void SleepFor(std::chrono::milliseconds ms)
{
    if (ms.count() > 0)
        QThread::msleep(static_cast<unsigned long>(ms.count()));
}

} // namespace

// --- Capability query and login ---------------------------------------------------------------

bool CViewerPanel::SetSource(const std::string& url, const std::string& frameType,
                             const std::string& panTilt, const std::string& frameRate)
{
    m_frameType = frameType;
    m_resultsAccepted = 1;
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
    CHttpPoster poster(kViewerPosterProfile, m_timings.poster);
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
    HandUrlsToClients();
    m_audioPlayer->SetPlayAudio();
    m_mjpegPainter->View().SetZoomActive(false);
    m_mpegPainter->View().SetZoomActive(false);
    m_configured = true;
    return true;
}

bool CViewerPanel::Login(std::string& ptctrl, std::string& ioctrl)
{
    CAuthorizationDlg dlg(AuthorizationProfile::Viewer, m_imageUrl, this);
    if (!m_hooks.runLogin(dlg) || dlg.Rejections() > 2)
        return false;
    m_user = dlg.UserName();
    m_password = dlg.Password();
    ptctrl = dlg.PtCtrl();
    ioctrl = dlg.IoCtrl();
    return true;
}

void CViewerPanel::HandUrlsToClients()
{
    m_asfPlayer->SetUrl(m_asfUrl, m_user, m_password);
    m_mjpegPlayer->SetUrl(m_mjpegUrl, m_user, m_password);
}

void CViewerPanel::RunUtilQuery()
{
    std::string reply;
    // The outcome is not looked at: a failed request leaves an empty reply that finds nothing.
    CHttpPoster(kViewerPosterProfile, m_timings.poster)
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

void CViewerPanel::StartPlay(int record, const std::string& recordFileName)
{
    if (!m_connected)
        return;
    RunUtilQuery();
    if (m_frameType == "mpeg") {
        if (!m_asfPlayer->Finished())
            return;
        m_clock.Set(0);
        m_recordFileName = recordFileName;
        m_mpegPainter->SetPanel(this);
        m_audioPlayer->SetPanel(this);
        m_asfPlayer->SetRecord(record != 0, recordFileName);
        m_asfPlayer->SetUrl(m_asfUrl, m_user, m_password);
        m_asfPlayer->Start();
        update();
        return;
    }
    if (!m_mjpegPlayer->Finished())
        return;
    m_clock.Set(0);
    m_recordFileName = recordFileName;
    m_mjpegPainter->SetPanel(this);
    m_audioPlayer->SetPanel(this);
    m_mjpegPlayer->SetUrl(MJpegUrlWithRate(m_mjpegUrl, m_frameRate), m_user, m_password);
    m_mjpegPlayer->Start();
    update();
}

CStreamWorker* CViewerPanel::CurrentClient()
{
    if (m_frameType == "mpeg")
        return m_asfPlayer.get();
    return m_mjpegPlayer.get();
}

void CViewerPanel::StopPlay()
{
    if (!m_connected)
        return;
    m_resultsAccepted = 0;
    SleepFor(m_timings.stopPlaySleep);
    if (CStreamWorker* client = CurrentClient(); client && !client->Finished())
        client->Stop(m_timings.stopTimeoutMs);
    m_resultsAccepted = 1;
}

void CViewerPanel::OnPlayerResult(int code)
{
    m_results.push_back(code);
    if (code == kResultBusy) {
        StopPlay();
        m_upperLine->hide();
        m_lowerLine->hide();
        ShowStrip(false);
        m_hooks.showBusy(LoadViewerString(1008), QStringLiteral("Wrong"));
        return;
    }
    if (!m_resultsAccepted)
        return;
    StopPlay();
    if (m_resultsAccepted) {
        ++m_restarts;
        StartPlay(0, m_recordFileName); // a restart never records
    }
}

ViewerStats CViewerPanel::Stats() const
{
    ViewerStats s;
    s.painted = m_mjpegPainter->Painted() + m_mpegPainter->Painted();
    s.decodeFailures = m_mjpegPainter->DecodeFailures() + m_mpegPainter->DecodeFailures();
    s.restarts = m_restarts;
    s.results = m_results;
    return s;
}

