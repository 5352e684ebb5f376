#include "host/host_window.h"

#include "host/options.h"
#include "host/request_log.h"
#include "module/identifiers.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>

namespace host {

HostWindow::HostWindow(const platform::SettingsStore& store, HostSettings settings,
                       RequestLog* log, QWidget* parent)
    : QMainWindow(parent), m_store(store), m_settings(std::move(settings)), m_log(log),
      m_login(m_settings.offscreen, m_settings.credentials,
              [this](const std::string& line) {
                  if (m_settings.verbose)
                      Report(line);
              }),
      m_tracker(m_settings.viewer, m_settings.silentAfterMs)
{
    const component::ModuleIdentifiers& ids =
        m_settings.viewer ? component::kVueloIds : component::kMozonIds;
    m_name = std::string(ids.moduleName);
    setWindowTitle(QString::fromStdString(m_name) + QStringLiteral(" \u2013 ") +
                   QString::fromStdString(m_settings.address.shown));

    m_holder = new QWidget(this);
    m_holderLayout = new QVBoxLayout(m_holder);
    m_holderLayout->setContentsMargins(0, 0, 0, 0);
    m_holderLayout->setAlignment(Qt::AlignCenter);
    setCentralWidget(m_holder);

    m_statusLine = new QLabel(this);
    m_statusLine->setObjectName(QStringLiteral("statusLine"));
    statusBar()->addWidget(m_statusLine, 1);
    statusBar()->setSizeGripEnabled(false);

    auto addAction = [this](const QString& name, QList<QKeySequence> keys, auto slot) {
        auto* action = new QAction(name, this);
        action->setShortcuts(keys);
        connect(action, &QAction::triggered, this, slot);
        QMainWindow::addAction(action);
    };
    addAction(QStringLiteral("Reload"), {QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_R)},
              [this] { Reload(); });
    addAction(QStringLiteral("Quit"), {QKeySequence(Qt::CTRL | Qt::Key_Q), QKeySequence(Qt::CTRL | Qt::Key_W)},
              [this] { close(); });
    addAction(QStringLiteral("Full screen"), {QKeySequence(Qt::Key_F11)},
              [this] { isFullScreen() ? showNormal() : showFullScreen(); });

    if (m_settings.overlay) {
        m_overlay = new QLabel(m_holder);
        m_overlay->setObjectName(QStringLiteral("overlay"));
        m_overlay->setStyleSheet(QStringLiteral(
            "QLabel { color: white; background: rgba(0, 0, 0, 150); padding: 1px 4px; }"));
        m_overlay->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_overlay->hide();
    }

    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this] { Tick(); });
    timer->start(int(m_settings.tick.count()));
}

HostWindow::~HostWindow()
{
    // The control's widget lives in this window; the control goes first.
    m_control.reset();
}

int64_t HostWindow::Now() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 m_epoch)
        .count();
}

void HostWindow::Report(const std::string& line) const
{
    std::fprintf(stderr, "camhost: %s\n", line.c_str());
    std::fflush(stderr);
}

std::string HostWindow::Statistics() const
{
    return m_control ? m_control->Statistics() : std::string();
}

void HostWindow::closeEvent(QCloseEvent* event)
{
    // What the close cuts short (the control's request, which it cancels) is the user's doing:
    // no failure to report or retry.
    m_ended = true;
    m_retryAt = -1;
    QMainWindow::closeEvent(event);
}

void HostWindow::Start()
{
    if (!m_control)
        Load();
}

void HostWindow::Call(const char* method, const std::vector<DispatchArg>& args)
{
    if (!m_control)
        return;
    const bool nested = m_scripting;
    m_scripting = true;
    const component::HResult hr = m_control->Call(method, args);
    m_scripting = nested;
    if (component::Failed(hr))
        Report(std::string(method) + " failed (" + HResultText(hr) + ")");
}

bool HostWindow::HoldsCamera() const
{
    return m_control && m_scripted && m_status.connected;
}

void HostWindow::Reload()
{
    if (m_scripting)
        return; // the control is inside a call; a reload would pull it from under its own feet
    if (HoldsCamera())
        Call("StopPlay", {});
    Load();
}

void HostWindow::Finish()
{
    m_retryAt = -1;
    m_ended = true;
    // The zone control lets go of the camera's configuration; the viewer's own destruction
    // stops its stream as StopPlay would, a second sooner.
    if (m_control && !m_scripting && !m_settings.viewer && HoldsCamera())
        Call("StopPlay", {});
    if (!m_scripting)
        m_control.reset();
}

void HostWindow::Load()
{
    if (m_scripting)
        return;
    m_control.reset();
    m_login.NewControl();
    m_tracker.NewControl();
    m_drift.NewControl();
    m_latency.NewControl();
    m_scripted = false;
    m_stoppedLoop = false;
    m_retryAt = -1;
    m_status = {};

    const component::ModuleIdentifiers& ids =
        m_settings.viewer ? component::kVueloIds : component::kMozonIds;
    std::string error;
    m_control = ScriptedControl::Create(m_store, ids.controlProgId, error);
    QWidget* widget = m_control ? m_control->Widget() : nullptr;
    if (!widget) {
        Report(m_control ? "the control has no window" : error);
        m_control.reset();
        m_ended = true;
        emit RunEnded(kExitError);
        return;
    }
    ++m_loads;
    widget->setFixedSize(widget->size());
    m_holderLayout->addWidget(widget);
    widget->show();
    if (!m_settings.viewer || m_loads == 1)
        adjustSize();
    m_resultsSeen = ReadCounters(m_settings.viewer, m_control->Statistics()).resultCount;
    m_statusLine->setText(QString::fromStdString(StatusText(m_status, m_settings.address.shown, {})));
    m_statusLine->repaint();

    // As the camera's page scripts it.
    m_scripting = true;
    if (m_settings.viewer) {
        Call("SetSource", {m_settings.address.controlUrl, m_settings.address.type,
                           m_settings.panTilt, m_settings.rate, 0L, 0L});
        if (m_settings.size)
            Call("SetSize", {long(m_settings.size)});
        Call("StartPlay", {0L, std::string()});
    } else {
        Call("SetSource", {m_settings.address.controlUrl, std::string("mpeg4"), 1L});
    }
    m_scripting = false;
    m_scripted = true;
    Tick();
}

void HostWindow::Tick()
{
    if (!m_control)
        return;
    if (m_log)
        for (const RequestOutcome& r : m_log->Take())
            m_tracker.OnRequest(r);
    const ControlCounters counters = ReadCounters(m_settings.viewer, m_control->Statistics());
    if (m_settings.verbose) {
        if (counters.resultCount > m_resultsSeen)
            Report("result code " + std::to_string(counters.lastResult) + " (" +
                   ResultMeaning(counters.lastResult) + ")");
        if (!counters.sound.empty() && !m_soundTold) {
            m_soundTold = true;
            Report("sound output: " + counters.sound);
        }
    }
    m_resultsSeen = std::max(m_resultsSeen, counters.resultCount);
    m_drift.Take(counters.drift);
    m_latency.Take(counters.latency);
    ShowOverlay(counters);

    const int64_t now = Now();
    m_status = m_tracker.Update(now, counters, m_login.State(), m_scripted);
    if (m_status.failure == Failure::LoginCancelled && m_login.WithoutCredentials())
        m_status.detail = "no credentials: give --user and --password-file or CAMCTL_PASSWORD";
    m_exitCode = ExitCodeFor(m_status);
    if (!m_scripting && !m_ended)
        Act(now);

    std::optional<int> retryIn;
    if (m_retryAt >= 0)
        retryIn = int((m_retryAt - now + 999) / 1000);
    m_statusLine->setText(
        QString::fromStdString(StatusText(m_status, m_settings.address.shown, retryIn)));
}

void HostWindow::ShowOverlay(const ControlCounters& c)
{
    if (!m_overlay)
        return;
    QWidget* widget = m_control ? m_control->Widget() : nullptr;
    if (!widget || !c.picture) {
        m_overlay->hide();
        return;
    }
    m_overlay->setText(QString::fromStdString(OverlayText(m_drift.Last(), m_latency.Last())));
    m_overlay->adjustSize();
    // The picture's lower left corner, a few pixels in: cameras print their own text at the top.
    const auto& [x, y, width, height] = *c.picture;
    (void)width;
    m_overlay->move(widget->mapTo(m_holder, QPoint(x + 4, y + height - m_overlay->height() - 4)));
    m_overlay->raise();
    m_overlay->show();
}

void HostWindow::Act(int64_t now)
{
    const Status& s = m_status;
    std::string line;
    if (s.phase == Phase::Failed)
        line = FailureLine(s.failure, m_settings.address.shown, s.detail);
    else if (s.phase == Phase::VideoEnded)
        line = "the live video from " + m_settings.address.shown + " ended (result code " +
               std::to_string(s.code) + ", " + ResultMeaning(s.code) + ")";
    else if (s.phase == Phase::Reconnecting && s.failure != Failure::None)
        line = FailureLine(s.failure, m_settings.address.shown, {});
    else if (s.phase == Phase::Silent)
        line = m_settings.address.shown + " has stopped sending pictures";
    else if (s.phase == Phase::Playing)
        m_reported.clear();
    if (!line.empty() && line != m_reported) {
        m_reported = line;
        Report(line);
    }

    // The viewer would go on reconnecting to something that is no camera.
    if (s.phase == Phase::Failed && s.failure == Failure::NotACamera && m_settings.viewer &&
        s.connected && !m_stoppedLoop) {
        m_stoppedLoop = true;
        Call("StopPlay", {});
    }

    const bool retryable =
        (s.phase == Phase::Failed && Retries(s.failure)) || s.phase == Phase::VideoEnded;
    if (retryable && m_settings.retry.count() > 0) {
        if (m_retryAt < 0) {
            m_retryAt = now + m_settings.retry.count();
        } else if (now >= m_retryAt) {
            m_retryAt = -1;
            QTimer::singleShot(0, this, [this] { Load(); });
        }
        return;
    }
    m_retryAt = -1;
    if (m_settings.offscreen && (s.phase == Phase::Failed || s.phase == Phase::VideoEnded)) {
        m_ended = true;
        emit RunEnded(ExitCodeFor(s));
    }
}

} // namespace host
