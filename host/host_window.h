#pragma once
// The browser's window around one control: the control in the middle, a status line under it
// that says what the control is doing, a title naming the control and the camera, reload (F5,
// Ctrl+R) that destroys the control and makes and scripts it again, a reload by itself after a
// connection failure or the end of the live video, full screen (F11) and quit (Ctrl+Q, Ctrl+W).

#include "host/camera_address.h"
#include "host/control_host.h"
#include "host/control_status.h"
#include "host/login_watcher.h"

#include <QMainWindow>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

class QLabel;
class QVBoxLayout;

namespace platform {
class SettingsStore;
}

namespace host {

class RequestLog;

struct HostSettings
{
    bool viewer = true;
    CameraAddress address;
    std::string panTilt = "on";
    std::string rate;
    int size = 0;
    std::chrono::milliseconds retry{5000}; // 0: never by itself
    bool offscreen = false;
    bool verbose = false;
    Credentials credentials;
    std::chrono::milliseconds tick{250};
    bool overlay = false; // the viewer's readouts over its picture
    long silentAfterMs = 3000;
};

class HostWindow : public QMainWindow
{
    Q_OBJECT
public:
    HostWindow(const platform::SettingsStore& store, HostSettings settings, RequestLog* log,
               QWidget* parent = nullptr);
    ~HostWindow() override;

    // Makes and scripts the control; from the event loop, once the window is shown.
    void Start();
    // F5: the control goes and a new one is made and scripted.
    void Reload();
    // The run ends: stops the stream when the control holds the camera, and lets it go.
    void Finish();

    const Status& CurrentStatus() const { return m_status; }
    // The code a run that ended now would leave with; any thread.
    int ExitCodeNow() const { return m_exitCode.load(); }
    QLabel* StatusLine() const { return m_statusLine; }
    ScriptedControl* Control() const { return m_control.get(); }
    int Loads() const { return m_loads; }
    std::string Statistics() const;
    bool HasPendingReload() const { return m_retryAt >= 0; }
    // The viewer's readouts over the whole run, every control's.
    const ReadoutLog& Drift() const { return m_drift; }
    const ReadoutLog& Latency() const { return m_latency; }
    QLabel* Overlay() const { return m_overlay; }

signals:
    // A failure that waits for the user, with nobody to wait for (offscreen); or a control
    // that cannot be made.
    void RunEnded(int exitCode);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Load();
    void Tick();
    void Act(int64_t now);
    void ShowOverlay(const ControlCounters& counters);
    void Call(const char* method, const std::vector<DispatchArg>& args);
    bool HoldsCamera() const;
    void Report(const std::string& line) const;
    int64_t Now() const;

    const platform::SettingsStore& m_store;
    HostSettings m_settings;
    RequestLog* m_log;
    std::string m_name; // "Vuelo"
    LoginWatcher m_login;
    StatusTracker m_tracker;

    QWidget* m_holder = nullptr;
    QVBoxLayout* m_holderLayout = nullptr;
    QLabel* m_statusLine = nullptr;
    QLabel* m_overlay = nullptr; // over the control, in m_holder
    std::unique_ptr<ScriptedControl> m_control;
    bool m_scripting = false;
    bool m_scripted = false;
    bool m_stoppedLoop = false;
    bool m_ended = false;
    int m_loads = 0;
    int64_t m_retryAt = -1;
    Status m_status;
    std::string m_reported; // the failure line printed last; printed again once it changes
    uint64_t m_resultsSeen = 0;
    bool m_soundTold = false;
    ReadoutLog m_drift, m_latency;
    std::chrono::steady_clock::time_point m_epoch = std::chrono::steady_clock::now();
    std::atomic<int> m_exitCode{0};
};

} // namespace host
