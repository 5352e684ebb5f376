#pragma once
// The viewer's panel: all viewer state, the stream clients, painters and queues, and the
// controls on the left strip. Workers reach it only through the play control's Post (window
// messages, delivered on the UI thread as Qt events) and through the queues and the panel clock.

#include "platform/messages.h"
#include "stream/frame_chain.h"
#include "stream/http_poster.h"
#include "codec/audio/audio_player.h"
#include "stream/asf_player.h"
#include "stream/mjpeg_player.h"
#include "viewer/av_readouts.h"
#include "viewer/draw_surface.h"
#include "viewer/live_wait.h"
#include "viewer/mjpeg_painter.h"
#include "viewer/mpeg4_painter.h"
#include "viewer/play_control.h"

#include <QWidget>

#include <array>
#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <optional>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QFrame;
class QLabel;
class CHoverButton;
class CPictureCtrl;
class CAuthorizationDlg;

struct ViewerTimings
{
    std::chrono::milliseconds stopPlaySleep{1000};
    uint32_t stopTimeoutMs = 70000;
    std::chrono::milliseconds setSizeWait{100};
    MJpegPlayerTimings mjpeg;
    AsfPlayerTimings asf;
    PosterTimings poster;
    // The Snapshot button waits for the painter this often, this many times.
    std::chrono::milliseconds snapshotPoll{100};
    int snapshotPolls = 51;
    // The A/V readouts are sampled this often.
    std::chrono::milliseconds readoutPeriod{1000};
};

// What the panel shows modally or hands to the desktop; tests replace these.
struct ViewerHooks
{
    // Runs the login dialog; true when it ended with OK.
    std::function<bool(CAuthorizationDlg&)> runLogin;
    std::function<void(const QString& text, const QString& caption)> showBusy;
    std::function<void(const QString& argument)> openBrowser;
    // The folder chooser: the chosen folder, or nothing on cancel.
    std::function<std::optional<QString>(QWidget* owner, const QString& title,
                                         const QString& initial)>
        chooseFolder;
    // Local time for snapshot names.
    std::function<std::tm()> localTime;
    // The settings file (the registry's stand-in); empty: the user's default one.
    std::string settingsPath;
    // The desktop's pictures folder; empty: the platform's.
    std::string desktopPictures;
    // The sound device; empty: the speaker when one opens, else the virtual device.
    SoundDeviceFactory soundDevice;
};

// Counters for the host's statistics line.
struct ViewerStats
{
    uint64_t painted = 0;
    uint64_t decodeFailures = 0;
    uint64_t restarts = 0;
    std::vector<int> results;
    ReadoutSeries drift, latency; // av_readouts.h
};

class CViewerPanel : public QWidget, public platform::MessageTarget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 789;
    static constexpr int kHeight = 486;

    explicit CViewerPanel(QWidget* parent = nullptr, const ViewerTimings& timings = {},
                          ViewerHooks hooks = {});
    ~CViewerPanel() override;

    // Scripting.
    bool SetSource(const std::string& url, const std::string& frameType,
                   const std::string& panTilt, const std::string& frameRate);
    void StartPlay(int record, const std::string& recordFileName);
    void StopPlay();
    void SetZoomPercent(int percent);
    void SetPlayAudio();
    void StopPlayAudio();
    bool SetSize(int size);
    int GetSize() const { return m_sizeValue; }
    void OpenSettingPage(const std::string& argument);

    // Any thread: queues a window message for the UI thread.
    void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    // How the panel waits on the camera and the workers: the window stays alive meanwhile.
    CLiveWait& Live() { return m_live; }

    // State, for the host and tests.
    // The window exists from the panel's first showing; a SetSource made before it plays then.
    bool HasWindow() const { return m_hasWindow; }
    bool Connected() const { return m_connected; }
    bool Configured() const { return m_configured; }
    const std::string& FrameType() const { return m_frameType; }
    const std::string& PanTilt() const { return m_panTilt; }
    const std::string& IoState() const { return m_ioState; }
    const std::string& VoiceOut() const { return m_voiceOut; }
    const std::string& BaseUrl() const { return m_base; }
    const std::string& ImageQueryUrl() const { return m_imageUrl; }
    const std::string& PanTiltUrl() const { return m_panTiltUrl; }
    const std::string& MJpegUrl() const { return m_mjpegUrl; }
    const std::string& AsfUrl() const { return m_asfUrl; }
    ViewerStats Stats() const;
    CMJpegPainter& MJpegPainter() { return *m_mjpegPainter; }
    CMJpegPlayer& MJpegPlayer() { return *m_mjpegPlayer; }
    CMpeg4Painter& Mpeg4Painter() { return *m_mpegPainter; }
    CAsfPlayer& AsfPlayer() { return *m_asfPlayer; }
    CAudioPlayer& AudioPlayer() { return *m_audioPlayer; }
    int VideoCap() const { return m_videoCap; }
    CDrawSurface& Surface() { return m_surface; }
    QComboBox* ResolutionList() const { return m_resolutions; }
    QLabel* UpperLine() const { return m_upperLine; }
    QLabel* LowerLine() const { return m_lowerLine; }
    CHoverButton* Button(int id) const;
    bool ZoomArmed() const { return m_zoomArmed; }
    bool ZoomPlaced() const { return m_zoomPlaced; }
    std::array<int, 4> ZoomWindow() const { return {m_zoomLeft, m_zoomTop, m_zoomRight, m_zoomBottom}; }
    bool FlipOn() const { return m_flipOn; }
    bool MirrorOn() const { return m_mirrorOn; }
    bool RotateOn() const { return m_rotateOn; }

    // The buttons' and the list's actions, as the UI runs them.
    void OnZoom();
    void OnFlip();
    void OnMirror();
    void OnRotate();
    void OnResolutionChosen();
    void OnFolder();
    // Saves the picture on screen; the file written, or empty when no picture was served.
    std::string OnSnapshot();
    const std::string& PictureFolder() const { return m_pictureFolder; }
    // A left click on the panel at (x, y).
    void Click(int x, int y);

signals:
    // After each handled window message: lets the host and tests follow the panel.
    void MessageHandled(uint32_t message, uintptr_t wParam);

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void BuildControls();
    void ShowStrip(bool visible);
    void ShowUpperMessage(int stringId);
    void HandleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
    void OnPlayerResult(int code, intptr_t run);
    void OnVideoReady();
    void RunUtilQuery();
    bool Login(std::string& ptctrl, std::string& ioctrl);
    void HandUrlsToClients();
    void PanTiltClick(int x, int y);
    void ApplyTransform(int mode);
    void SwitchZoomOff();
    CPaintStep* CurrentView();
    AvReadoutInputs ReadoutInputs();

    ViewerTimings m_timings;
    ViewerHooks m_hooks;
    CLiveWait m_live{this};

    // Widgets (owned by Qt's parent chain).
    CPictureCtrl* m_picture = nullptr;
    QFrame* m_videoFrame = nullptr;
    QLabel* m_upperLine = nullptr;
    QLabel* m_lowerLine = nullptr;
    CHoverButton* m_zoom = nullptr;
    CHoverButton* m_flip = nullptr;
    CHoverButton* m_mirror = nullptr;
    CHoverButton* m_rotate = nullptr;
    CHoverButton* m_snapshot = nullptr;
    CHoverButton* m_folder = nullptr;
    QComboBox* m_resolutions = nullptr;

    // Queues, clock and workers; the workers are destroyed first (their threads use the rest,
    // and post through the play control).
    CFrameChain m_videoQueue;
    CFrameChain m_audioQueue;
    CPanelClock m_clock;
    CDrawSurface m_surface;
    std::atomic<int> m_videoCap{kInitialVideoCap}; // written by the MPEG-4 painter
    CPlayControl m_play;
    std::unique_ptr<CAudioPlayer> m_audioPlayer;
    std::unique_ptr<CMpeg4Painter> m_mpegPainter;
    std::unique_ptr<CMJpegPainter> m_mjpegPainter;
    std::unique_ptr<CAsfPlayer> m_asfPlayer;
    std::unique_ptr<CMJpegPlayer> m_mjpegPlayer;

    // Settings.
    std::string m_frameType, m_panTilt, m_voiceOut, m_frameRate, m_ioState;
    std::string m_user, m_password;
    std::string m_pictureFolder;
    std::string m_base, m_panTiltUrl, m_utilUrl, m_presetsUrl, m_imageUrl, m_asfUrl, m_mjpegUrl;
    int m_sizeValue = 320;
    bool m_hasWindow = false;
    bool m_connected = false;
    bool m_configured = false;

    // View state.
    bool m_zoomArmed = false, m_zoomPlaced = false;
    bool m_flipOn = false, m_mirrorOn = false, m_rotateOn = false;
    int m_zoomLeft = -1, m_zoomTop = -1, m_zoomRight = 0, m_zoomBottom = 0;
    int m_zoomX0 = 0, m_zoomY0 = 0;
    bool m_zoomCursor = false;
    int m_displayWidth = 320, m_displayHeight = 240;

    std::atomic<bool> m_repaintPending{false};
    uint64_t m_restarts = 0;
    AvReadoutSampler m_readouts; // UI thread
};
