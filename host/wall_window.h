#pragma once
// A camera wall: one window with a viewer control per camera, laid out in the grid that shows
// them largest and laid out again when the window changes size, as a page with several controls
// would be. Each control reconnects by itself and is reloaded after a connection failure as in
// camhost's single window; its status line sits under it. Sound comes from one camera at a
// time, the one clicked last (the others' play flag off); a double-click shows that camera
// alone, and another brings the wall back.

#include "host/camera_address.h"
#include "host/control_host.h"
#include "host/control_status.h"
#include "host/credentials.h"
#include "host/login_watcher.h"

#include <QFrame>
#include <QMainWindow>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QTimer;

namespace platform {
class SettingsStore;
}

namespace host {

class RequestLog;

struct WallSettings
{
    std::vector<CameraAddress> cameras;
    std::string panTilt = "on";
    std::string rate;
    std::chrono::milliseconds retry{5000}; // 0: never by itself
    bool offscreen = false;
    bool verbose = false;
    Credentials credentials;
    std::chrono::milliseconds tick{250};
    long silentAfterMs = 3000;
    // The settings store's connections per server; 0 reads it once the first control is loaded.
    int connectionsPerServer = 0;
};

class WallCell : public QFrame
{
    Q_OBJECT
public:
    WallCell(int index, CameraAddress address, const WallSettings& settings, QWidget* parent);
    ~WallCell() override;

    ScriptedControl* Control() const { return m_control.get(); }
    const Status& CurrentStatus() const { return m_status; }
    const CameraAddress& Address() const { return m_address; }
    QLabel* StatusLine() const { return m_statusLine; }
    int Loads() const { return m_loads; }
    bool Scripted() const { return m_scripted; }
    bool PlaysAudio();
    // The control cannot be made at all: nothing more will happen in this cell.
    bool Broken() const { return m_broken; }
    // Past the connection limit: the cell says so while it has not connected.
    void SetWaitingForSlot(std::string why) { m_slotNote = std::move(why); }

private:
    friend class WallWindow;
    void Load(const platform::SettingsStore& store, int displaySize);
    void Call(const char* method, const std::vector<DispatchArg>& args);
    void SetDisplaySize(int size);
    void Update(int64_t now, LoginState login);
    bool Ended() const;

    int m_index;
    CameraAddress m_address;
    const WallSettings& m_settings;
    StatusTracker m_tracker;
    QLabel* m_statusLine = nullptr;
    std::unique_ptr<ScriptedControl> m_control;
    bool m_scripting = false;
    bool m_scripted = false;
    bool m_broken = false;
    int m_loads = 0;
    int m_displaySize = 0;
    bool m_sizedWhilePlaying = false;
    int64_t m_retryAt = -1;
    Status m_status;
    std::string m_reported;
    std::string m_slotNote;
};

class WallWindow : public QMainWindow
{
    Q_OBJECT
public:
    WallWindow(const platform::SettingsStore& store, WallSettings settings, RequestLog* log,
               QWidget* parent = nullptr);
    ~WallWindow() override;

    // Makes and scripts the controls, those that get a connection first; from the event loop.
    void Start();
    // The run ends: the controls go, which stops their streams.
    void Finish();

    int Count() const { return int(m_cells.size()); }
    WallCell* Cell(int i) const { return m_cells[size_t(i)]; }
    int Audible() const { return m_audible; }
    int Solo() const { return m_solo; }
    // What a click and a double-click on a camera do.
    void MakeAudible(int i);
    void ToggleSolo(int i);

    // The first failing camera's code, in wall order; 0 while every one plays. Any thread.
    int ExitCodeNow() const { return m_exitCode.load(); }
    // The controls' counters, one JSON line: {"cameras":[...]}.
    std::string Statistics() const;

signals:
    // Offscreen, every camera has failed in a way that waits for the user.
    void RunEnded(int exitCode);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Tick();
    void Relayout();
    void NoteConnectionLimit();
    int CellOf(QObject* object) const;
    int64_t Now() const;

    const platform::SettingsStore& m_store;
    WallSettings m_settings;
    RequestLog* m_log;
    LoginWatcher m_login;
    QWidget* m_area = nullptr;
    QTimer* m_relayout = nullptr;
    std::vector<WallCell*> m_cells; // children of m_area
    bool m_started = false;
    bool m_loading = false;
    bool m_ended = false;
    int m_audible = 0;
    int m_solo = -1;
    int m_lastClickType = 0; // the click acted on last
    quint64 m_lastClickStamp = 0;
    std::chrono::steady_clock::time_point m_epoch = std::chrono::steady_clock::now();
    std::atomic<int> m_exitCode{0};
};

} // namespace host
