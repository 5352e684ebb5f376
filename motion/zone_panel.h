#pragma once
// The motion-zone control's panel: all its state and all its work. It reads the zones from the
// camera, starts the process's one live video behind them, shows the zone frames and controls,
// samples the zone levels, and saves and releases the configuration.
//
// The panel object lives with its control; its window (the child controls) is made by Create and
// taken down by DestroyWindow. Workers reach it only through the module's recorded panel.

#include "motion/zone_panel_layout.h"
#include "motion/zone_protocol.h"
#include "motion/zone_wnd.h"
#include "platform/messages.h"
#include "stream/asf_player.h"
#include "stream/http_poster.h"
#include "viewer/live_wait.h"

#include <QWidget>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

class CAuthorizationDlg;

struct ZoneTimings
{
    using ms = std::chrono::milliseconds;
    ms haltWait{1000};          // before stopping the stream
    uint32_t stopTimeoutMs = 70000;
    ms restartWait{2000};       // after a confirmed save
    ms cancelWait{200};
    ms meterPeriod{1000};
    AsfPlayerTimings asf;
    PosterTimings poster;
};

struct ZoneHooks
{
    // Runs the login dialog; true when it ended with OK.
    std::function<bool(CAuthorizationDlg&)> runLogin;
};

class CZonePanel : public QWidget, public platform::MessageTarget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 810;
    static constexpr int kHeight = 530;
    static constexpr QRect kPictureArea = kZonePictureArea;
    static constexpr int kTemplateId = 201;

    explicit CZonePanel(QWidget* parent = nullptr, const ZoneTimings& timings = {},
                        ZoneHooks hooks = {});
    ~CZonePanel() override;

    // The window: made with the control's window, taken down by StopPlay.
    void Create();
    void DestroyWindow();
    bool HasWindow() const { return m_hasWindow; }

    // Scripting.
    bool SetSource(const std::string& url, const std::string& frameType, int ocxType);
    void StopPlay();

    // Operations of the panel.
    int ReadAreas();
    void SaveAreas();
    void SendOcxFree();
    void StartLive();
    void HaltStream();
    void StopLive();
    void ShowZoneControls();
    void PlaceZone(int n, int enable, int x1, int y1, int x2, int y2);
    void ZoneRectInPicture(int n);
    void OnEnableClicked(int n);
    void OnCancel();

    // Any thread.
    void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    // How the panel waits on the camera and the stream: the window stays alive meanwhile.
    CLiveWait& Live() { return m_live; }

    // State, for the host and tests.
    const MotionAreaConfig& Config() const { return m_config; }
    int LastReadResolution() const { return m_lastResolution; }
    const std::string& BaseUrl() const { return m_baseUrl; }
    const std::string& ConfigurationUrl() const { return m_configUrl; }
    const std::string& StreamUrl() const { return m_streamUrl; }
    const std::string& FrameType() const { return m_frameType; }
    int OcxType() const { return m_ocxType; }
    bool SourceSet() const { return m_sourceSet; }
    bool MetersRunning() const;
    CZoneWnd& ZoneWindow(int n) { return *m_zones[size_t(n - 1)]; }
    QLabel* MessageLine() const { return m_ui.message; }
    QCheckBox* EnableBox(int n) const { return m_ui.enable[size_t(n - 1)]; }
    QSlider* ThresholdSlider(int n) const { return m_ui.threshold[size_t(n - 1)]; }
    QSlider* SensitivitySlider(int n) const { return m_ui.sensitivity[size_t(n - 1)]; }
    QProgressBar* LevelBar(int n) const { return m_ui.level[size_t(n - 1)]; }
    QPushButton* SaveButton() const { return m_ui.save; }
    CPictureCtrl* Background() const { return m_ui.background; }
    QWidget* Placeholder() const { return m_ui.placeholder; }

signals:
    // After each handled window message: lets the host and tests follow the panel.
    void MessageHandled(uint32_t message, uintptr_t wParam);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Initialise();
    void BuildControls();
    void Connect();
    void ShowMessage(int stringId);
    void OnPlayerResult(int code);
    void StartMeter(int n);
    void StopMeter(int n);
    void HideEverything();
    void PaintPicture(QPainter& painter);
    QRect PictureRect() const;

    ZoneTimings m_timings;
    ZoneHooks m_hooks;
    CLiveWait m_live{this};

    MotionAreaConfig m_config;
    std::array<std::unique_ptr<CZoneWnd>, 4> m_zones;
    std::string m_user, m_password;
    std::string m_baseUrl, m_configUrl, m_frameType, m_streamUrl;
    int32_t m_ocxType = 0;
    int m_lastResolution = 0;
    // The enable, threshold and sensitivity each zone's controls were last set to.
    std::array<ZoneSettings, 4> m_shown{};
    std::array<int, 4> m_meterTimers{}; // 0: not running
    bool m_sourceSet = false;
    bool m_hasWindow = false;

    // Child controls, owned by Qt's parent chain while the window exists.
    ZonePanelControls m_ui;
};
