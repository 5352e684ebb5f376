#include "host/wall_window.h"

#include "host/options.h"
#include "host/request_log.h"
#include "host/wall_plan.h"
#include "module/identifiers.h"
#include "platform/http.h"
#include "platform/settings.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <map>
#include <numeric>

namespace host {

namespace {

// The viewer panel's own size, with a status line under it: the shape a cell is given.
constexpr double kCellAspect = 789.0 / (486.0 + 18.0);
constexpr int kStatusHeight = 18;

void Report(const std::string& line)
{
    std::fprintf(stderr, "camhost: %s\n", line.c_str());
    std::fflush(stderr);
}

} // namespace

WallCell::WallCell(int index, CameraAddress address, const WallSettings& settings,
                   QWidget* parent)
    : QFrame(parent), m_index(index), m_address(std::move(address)), m_settings(settings),
      m_tracker(true, settings.silentAfterMs)
{
    setObjectName(QStringLiteral("wallCell%1").arg(index));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_statusLine = new QLabel(this);
    m_statusLine->setFixedHeight(kStatusHeight);
    m_statusLine->setTextFormat(Qt::PlainText);
    layout->addWidget(m_statusLine, 0, Qt::AlignBottom);
}

WallCell::~WallCell()
{
    // The control's widget lives in this cell; the control goes first.
    m_control.reset();
}

void WallCell::Call(const char* method, const std::vector<DispatchArg>& args)
{
    if (!m_control)
        return;
    const bool nested = m_scripting;
    m_scripting = true;
    const component::HResult hr = m_control->Call(method, args);
    m_scripting = nested;
    if (component::Failed(hr))
        Report(m_address.shown + ": " + method + " failed (" + HResultText(hr) + ")");
}

bool WallCell::PlaysAudio()
{
    return m_control && ReadCounters(true, m_control->Statistics()).playAudio;
}

void WallCell::Load(const platform::SettingsStore& store, int displaySize)
{
    if (m_scripting)
        return;
    m_control.reset();
    m_tracker.NewControl();
    m_scripted = false;
    m_sizedWhilePlaying = false;
    m_retryAt = -1;
    m_status = {};

    std::string error;
    m_control = ScriptedControl::Create(store, component::kVueloIds.controlProgId, error);
    QWidget* widget = m_control ? m_control->Widget() : nullptr;
    if (!widget) {
        Report(m_control ? "the control has no window" : error);
        m_control.reset();
        m_broken = true;
        return;
    }
    ++m_loads;
    // Whatever size the cell has: a control placed by a page takes the size it is given.
    widget->setMinimumSize(0, 0);
    widget->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    static_cast<QVBoxLayout*>(layout())->insertWidget(0, widget, 1);
    widget->show();

    m_scripting = true;
    Call("SetSource", {m_address.controlUrl, m_address.type, m_settings.panTilt, m_settings.rate,
                       0L, 0L});
    m_displaySize = displaySize;
    Call("SetSize", {long(displaySize)});
    Call("StartPlay", {0L, std::string()});
    m_scripting = false;
    m_scripted = true;
}

void WallCell::SetDisplaySize(int size)
{
    if (size == m_displaySize || !m_control || m_scripting || !m_scripted)
        return;
    m_displaySize = size;
    Call("SetSize", {long(size)});
}

bool WallCell::Ended() const
{
    const bool failed = m_status.phase == Phase::Failed || m_status.phase == Phase::VideoEnded;
    return m_broken || (failed && m_retryAt < 0);
}

void WallCell::Update(int64_t now, LoginState login)
{
    if (!m_control)
        return;
    m_status = m_tracker.Update(now, ReadCounters(true, m_control->Statistics()), login,
                                m_scripted);
    const Status& s = m_status;
    std::string line;
    if (s.phase == Phase::Failed)
        line = FailureLine(s.failure, m_address.shown, s.detail);
    else if (s.phase == Phase::Reconnecting && s.failure != Failure::None)
        line = FailureLine(s.failure, m_address.shown, {});
    else if (s.phase == Phase::Silent)
        line = m_address.shown + " has stopped sending pictures";
    else if (s.phase == Phase::Playing)
        m_reported.clear();
    if (!line.empty() && line != m_reported) {
        m_reported = line;
        if (m_settings.verbose || m_settings.offscreen)
            Report("camera " + std::to_string(m_index + 1) + ": " + line);
    }

    const bool retryable = s.phase == Phase::Failed && Retries(s.failure);
    if (retryable && m_settings.retry.count() > 0) {
        if (m_retryAt < 0)
            m_retryAt = now + m_settings.retry.count();
    } else {
        m_retryAt = -1;
    }

    std::optional<int> retryIn;
    if (m_retryAt >= 0)
        retryIn = int((m_retryAt - now + 999) / 1000);
    std::string text = StatusText(s, m_address.shown, retryIn);
    if (!s.connected && s.phase == Phase::Connecting && !m_slotNote.empty())
        text = m_slotNote;
    m_statusLine->setText(QString::fromStdString(text));
}

WallWindow::WallWindow(const platform::SettingsStore& store, WallSettings settings,
                       RequestLog* log, QWidget* parent)
    : QMainWindow(parent), m_store(store), m_settings(std::move(settings)), m_log(log),
      m_login(m_settings.offscreen, m_settings.credentials,
              [this](const std::string& line) {
                  if (m_settings.verbose)
                      Report(line);
              })
{
    setWindowTitle(QStringLiteral("Vuelo \u2013 %1 cameras").arg(m_settings.cameras.size()));
    m_area = new QWidget(this);
    setCentralWidget(m_area);
    for (size_t i = 0; i < m_settings.cameras.size(); ++i)
        m_cells.push_back(new WallCell(int(i), m_settings.cameras[i], m_settings, m_area));

    auto addAction = [this](const QString& name, QList<QKeySequence> keys, auto slot) {
        auto* action = new QAction(name, this);
        action->setShortcuts(keys);
        connect(action, &QAction::triggered, this, slot);
        QMainWindow::addAction(action);
    };
    addAction(QStringLiteral("Quit"),
              {QKeySequence(Qt::CTRL | Qt::Key_Q), QKeySequence(Qt::CTRL | Qt::Key_W)},
              [this] { close(); });
    addAction(QStringLiteral("Full screen"), {QKeySequence(Qt::Key_F11)},
              [this] { isFullScreen() ? showNormal() : showFullScreen(); });

    // Sizes settle in a burst while the user drags; the controls are told once it ends.
    m_relayout = new QTimer(this);
    m_relayout->setSingleShot(true);
    m_relayout->setInterval(150);
    connect(m_relayout, &QTimer::timeout, this, [this] { Relayout(); });

    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this] { Tick(); });
    timer->start(int(m_settings.tick.count()));
    qApp->installEventFilter(this);
    // A page of this many controls at their own size, as far as the screen allows.
    const WallGrid grid = FitGrid(Count(), 1600, 900, kCellAspect);
    resize(std::min(1600, grid.columns * 400), std::min(900, grid.rows * 256));
}

WallWindow::~WallWindow()
{
    qApp->removeEventFilter(this);
    for (WallCell* cell : m_cells)
        cell->m_control.reset();
}

int64_t WallWindow::Now() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 m_epoch)
        .count();
}

void WallWindow::Start()
{
    if (m_started)
        return;
    m_started = true;
    Relayout();
    std::vector<std::string> shown;
    for (const CameraAddress& a : m_settings.cameras)
        shown.push_back(a.shown);
    const std::vector<int> ranks = RankOnServer(shown);
    // The cameras that get a connection first: the k-th of every server before the (k+1)-th of
    // any, so the ones past the limit cannot hold the others' start up.
    std::vector<int> order(m_cells.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&ranks](int a, int b) { return ranks[size_t(a)] < ranks[size_t(b)]; });
    m_loading = true;
    for (int i : order) {
        if (m_ended)
            break;
        WallCell* cell = m_cells[size_t(i)];
        cell->Load(m_store, DisplaySizeFor(cell->width(), cell->height() - kStatusHeight));
        if (cell->Broken()) {
            m_loading = false;
            m_ended = true;
            emit RunEnded(kExitError);
            return;
        }
        if (i == order.front())
            NoteConnectionLimit();
        if (i != m_audible)
            cell->Call("StopPlayAudio", {});
    }
    m_loading = false;
    Tick();
}

void WallWindow::NoteConnectionLimit()
{
    int limit = m_settings.connectionsPerServer;
    if (limit <= 0) {
        // The module's start has just written it; read it as the HTTP layer did.
        const platform::SettingsStore fresh(platform::SettingsStore::DefaultPath());
        limit = int(fresh
                        .GetDword(platform::SettingsRoot::CurrentUser,
                                  platform::kInternetSettingsKey,
                                  platform::kMaxConnectionsPerServerName)
                        .value_or(0));
    }
    if (limit <= 0)
        return;
    std::vector<std::string> shown;
    for (const CameraAddress& a : m_settings.cameras)
        shown.push_back(a.shown);
    const std::vector<int> ranks = RankOnServer(shown);
    std::map<std::string, int> waiting;
    for (size_t i = 0; i < m_cells.size(); ++i) {
        if (ranks[i] < limit)
            continue;
        const std::string server = ServerOf(shown[i]);
        ++waiting[server];
        m_cells[i]->SetWaitingForSlot("Waiting for a connection to " + server + ": " +
                                      std::to_string(limit) +
                                      " per server in the settings store, all in use");
    }
    for (const auto& [server, count] : waiting)
        Report(server + ": the settings store allows " + std::to_string(limit) +
               " connections per server; " + std::to_string(count) +
               " camera(s) wait until one is free");
}

void WallWindow::Finish()
{
    m_ended = true;
    for (WallCell* cell : m_cells)
        if (!cell->m_scripting)
            cell->m_control.reset();
}

void WallWindow::MakeAudible(int i)
{
    if (i < 0 || i >= Count())
        return;
    m_audible = i;
    for (int k = 0; k < Count(); ++k) {
        WallCell* cell = m_cells[size_t(k)];
        if (cell->m_control && cell->m_scripted && !cell->m_scripting)
            cell->Call(k == i ? "SetPlayAudio" : "StopPlayAudio", {});
    }
}

void WallWindow::ToggleSolo(int i)
{
    if (i < 0 || i >= Count())
        return;
    m_solo = m_solo >= 0 ? -1 : i;
    // The camera shown alone is the one heard, whatever the press before did.
    if (m_solo >= 0 && m_audible != m_solo)
        MakeAudible(m_solo);
    Relayout();
}

int WallWindow::CellOf(QObject* object) const
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget)
        return -1;
    for (size_t i = 0; i < m_cells.size(); ++i)
        if (m_cells[i] == widget || m_cells[i]->isAncestorOf(widget))
            return int(i);
    return -1;
}

bool WallWindow::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick)
        return false;
    // A press travels up from the widget under the mouse to its parents; it is acted on once.
    // (Not by waiting for the release: a control that waits on its camera drops that.)
    const quint64 stamp = static_cast<QMouseEvent*>(event)->timestamp();
    const int cell = CellOf(watched);
    if (cell < 0 || (int(type) == m_lastClickType && stamp == m_lastClickStamp))
        return false;
    m_lastClickType = int(type);
    m_lastClickStamp = stamp;
    const bool busy = m_loading || std::any_of(m_cells.begin(), m_cells.end(),
                                               [](WallCell* c) { return c->m_scripting; });
    if (busy)
        return false; // the controls drop input while one of them waits on its camera
    if (type == QEvent::MouseButtonPress)
        MakeAudible(cell);
    else
        ToggleSolo(cell);
    return false;
}

void WallWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    m_relayout->start();
}

void WallWindow::Relayout()
{
    const bool busy = m_loading || std::any_of(m_cells.begin(), m_cells.end(),
                                               [](WallCell* c) { return c->m_scripting; });
    const int width = m_area->width(), height = m_area->height();
    auto place = [&](WallCell* cell, QRect r) {
        cell->setGeometry(r);
        cell->show();
        if (!busy)
            cell->SetDisplaySize(DisplaySizeFor(r.width(), r.height() - kStatusHeight));
    };
    if (m_solo >= 0) {
        for (int i = 0; i < Count(); ++i)
            if (i != m_solo)
                m_cells[size_t(i)]->hide();
        place(m_cells[size_t(m_solo)], QRect(0, 0, width, height));
    } else {
        const WallGrid grid = FitGrid(Count(), width, height, kCellAspect);
        const int w = width / grid.columns, h = height / grid.rows;
        for (int i = 0; i < Count(); ++i)
            place(m_cells[size_t(i)], QRect(i % grid.columns * w, i / grid.columns * h, w, h));
    }
    if (busy)
        m_relayout->start(); // the display sizes follow once the controls are free
}

void WallWindow::Tick()
{
    if (m_log)
        for (const RequestOutcome& r : m_log->Take())
            for (WallCell* cell : m_cells)
                if (r.url.rfind(cell->Address().shown, 0) == 0)
                    cell->m_tracker.OnRequest(r);
    const int64_t now = Now();
    const bool busy = m_loading || std::any_of(m_cells.begin(), m_cells.end(),
                                               [](WallCell* c) { return c->m_scripting; });
    int code = kExitOk;
    bool allEnded = !m_cells.empty();
    for (int i = 0; i < Count(); ++i) {
        WallCell* cell = m_cells[size_t(i)];
        cell->Update(now, m_login.State());
        if (code == kExitOk)
            code = ExitCodeFor(cell->CurrentStatus());
        allEnded = allEnded && cell->Ended();
        if (busy || m_ended || !cell->m_control || !cell->m_scripted)
            continue;
        if (cell->m_retryAt >= 0 && now >= cell->m_retryAt) {
            cell->m_retryAt = -1;
            QTimer::singleShot(0, this, [this, cell] {
                if (m_ended)
                    return;
                cell->Load(m_store, cell->m_displaySize);
                if (cell->m_index != m_audible)
                    cell->Call("StopPlayAudio", {});
            });
            continue;
        }
        // The stream's start gives the painter the picture's own size; the cell's comes after.
        if (cell->m_status.phase == Phase::Playing && !cell->m_sizedWhilePlaying) {
            cell->m_sizedWhilePlaying = true;
            const int size = cell->m_displaySize;
            cell->m_displaySize = 0;
            cell->SetDisplaySize(size);
        }
        // The control turns its sound on after every answered image query (a reload's, or
        // its own); only the chosen camera keeps it.
        const ControlCounters c = ReadCounters(true, cell->m_control->Statistics());
        if (c.connected && c.playAudio != (i == m_audible))
            cell->Call(i == m_audible ? "SetPlayAudio" : "StopPlayAudio", {});
    }
    m_exitCode = code;
    if (m_settings.offscreen && allEnded && !m_ended && m_started && !m_loading) {
        m_ended = true;
        emit RunEnded(code);
    }
}

std::string WallWindow::Statistics() const
{
    std::string out = "{\"audible\":" + std::to_string(m_audible) +
                      ",\"solo\":" + std::to_string(m_solo) + ",\"cameras\":[";
    for (size_t i = 0; i < m_cells.size(); ++i) {
        const std::string stats = m_cells[i]->m_control ? m_cells[i]->m_control->Statistics()
                                                        : std::string("null");
        out += (i ? "," : "") + (stats.empty() ? std::string("null") : stats);
    }
    return out + "]}";
}

} // namespace host
