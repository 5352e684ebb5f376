#include "viewer/live_wait.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QKeySequence>
#include <QShortcutEvent>
#include <QThread>
#include <QTimer>
#include <QWidget>

namespace {

// How often a wait looks at what it waits for: the threads it waits on post nothing to the
// event loop, so without this it would sleep until the next picture or timer.
constexpr int kPollMs = 5;

// What the user does to any window of the process while a wait runs: dropped, not queued, so
// that nothing the user did during the wait acts once it is over.
bool IsUserInput(const QEvent& event)
{
    if (event.isInputEvent())
        return true;
    switch (event.type()) {
    case QEvent::Shortcut:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

// The desktop's keys that close a window or quit end a wait as the close button does; what they
// close is the host's to decide, so its shortcut goes through, never the key press itself.
bool ClosesWindow(const QEvent& event)
{
    QKeySequence key;
    if (event.type() == QEvent::Shortcut)
        key = static_cast<const QShortcutEvent&>(event).key();
    else if (event.type() == QEvent::ShortcutOverride)
        key = QKeySequence(static_cast<const QKeyEvent&>(event).keyCombination());
    else
        return false;
    for (const auto standard : {QKeySequence::Close, QKeySequence::Quit})
        if (QKeySequence::keyBindings(standard).contains(key))
            return true;
    return false;
}

// In milliseconds: a time-out of kForever in the clock's own unit would overflow.
std::chrono::milliseconds Since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start);
}

} // namespace

CLiveWait::CLiveWait(QWidget* owner) : m_owner(owner) {}

CLiveWait::~CLiveWait() = default;

CLiveWait::Operation::Operation(CLiveWait& live) : m_live(live)
{
    ++m_live.m_operations;
}

CLiveWait::Operation::~Operation()
{
    --m_live.m_operations;
    m_live.Settle();
}

CLiveWait::Operation::operator bool() const
{
    return !m_live.m_orphaned;
}

bool CLiveWait::WaitUntil(const std::function<bool()>& ready, std::chrono::milliseconds timeout,
                          bool cancellable)
{
    if (ready())
        return true;
    if ((cancellable && m_cancelled) || timeout.count() <= 0)
        return false;
    if (!QCoreApplication::instance() || QThread::currentThread() != thread())
        return platform::BlockingWaiter().WaitUntil(ready, timeout, cancellable);

    WatchWindow();
    const WaitMark mark(*this);
    const InputBlock block(*this);
    const auto start = std::chrono::steady_clock::now();
    const auto over = [&] {
        return ready() || (cancellable && m_cancelled) || Since(start) >= timeout;
    };
    // An event loop of our own rather than processEvents, so that an application that quits
    // (QCoreApplication::exit leaves every running loop) ends the wait too.
    QEventLoop loop;
    bool settled = false;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (over()) {
            settled = true;
            loop.quit();
        }
    });
    poll.start(kPollMs);
    while (!over()) {
        settled = false;
        loop.exec();
        if (!settled) {
            // The application is quitting: the rest of this operation gives up, and what may
            // not give up waits without an event loop.
            m_cancelled = true;
            if (cancellable || ready())
                break;
            poll.stop();
            const auto left = timeout - Since(start);
            return left.count() > 0 && platform::BlockingWaiter().WaitUntil(ready, left, false);
        }
    }
    return ready();
}

bool CLiveWait::RunInTurn(std::function<void()> call)
{
    if (Waiting()) {
        m_heldBack.push_back(std::move(call));
        return false;
    }
    CatchUp();
    call();
    return true;
}

void CLiveWait::CatchUp()
{
    if (m_catchingUp || Waiting())
        return;
    m_catchingUp = true;
    // As one operation: the owner is not deleted under a call, and the loop ends if it goes.
    {
        const Operation op(*this);
        while (!m_heldBack.empty() && !m_orphaned) {
            std::function<void()> call = std::move(m_heldBack.front());
            m_heldBack.pop_front();
            call();
        }
        m_catchingUp = false;
    }
}

bool CLiveWait::Orphan()
{
    if (!Busy())
        return false;
    m_orphaned = true;
    m_cancelled = true;
    m_heldBack.clear();
    m_owner->hide();
    m_owner->setParent(nullptr);
    return true;
}

void CLiveWait::Settle()
{
    if (Busy())
        return;
    if (m_orphaned) {
        if (!m_deleting) {
            m_deleting = true;
            m_owner->deleteLater();
        }
        return;
    }
    m_cancelled = false;
    if (!m_heldBack.empty() && !m_catchingUp)
        QMetaObject::invokeMethod(
            this, [this] { CatchUp(); }, Qt::QueuedConnection);
}

void CLiveWait::WatchWindow()
{
    QWidget* top = m_owner->window();
    if (top == m_watched)
        return;
    if (m_watched)
        m_watched->removeEventFilter(this);
    m_watched = top;
    top->installEventFilter(this);
}

CLiveWait::InputBlock::InputBlock(CLiveWait& live) : m_live(live)
{
    if (m_live.m_blocking++ == 0)
        QCoreApplication::instance()->installEventFilter(&m_live);
}

CLiveWait::InputBlock::~InputBlock()
{
    if (--m_live.m_blocking == 0)
        QCoreApplication::instance()->removeEventFilter(&m_live);
}

bool CLiveWait::eventFilter(QObject* watched, QEvent* event)
{
    // The close goes on: the window goes at once, and the wait that held it gives up.
    if (event->type() == QEvent::Close && watched == m_watched && Busy())
        m_cancelled = true;
    return m_blocking > 0 && IsUserInput(*event) && !ClosesWindow(*event);
}
