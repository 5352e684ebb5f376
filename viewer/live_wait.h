#pragma once
// Waiting on the camera without freezing the window. A control's requests stay synchronous for
// their callers, but while one waits the window thread runs its event loop: the pictures the
// painters post keep being painted, user input to the process's windows is dropped, and closing
// the control's top-level window gives the wait up, so the window goes at once.
//
// What would run the owner's own code again meanwhile (a scripting call, a worker's result) is
// held back and run, in order, once the owner's work is over; the owner's operations never
// interleave. An owner whose control is destroyed in the middle of an operation is taken off
// its parent, hidden and deleted once that operation has unwound, so no waiting frame is left
// with freed state under it.
//
// One per panel (or dialog), used on the window thread only.

#include "platform/wait.h"

#include <QObject>
#include <QPointer>

#include <deque>
#include <functional>

class QWidget;

class CLiveWait final : public QObject, public platform::Waiter
{
public:
    explicit CLiveWait(QWidget* owner);
    ~CLiveWait() override;
    CLiveWait(const CLiveWait&) = delete;
    CLiveWait& operator=(const CLiveWait&) = delete;

    // One piece of the owner's work (a scripting call, a result, a button). Once the owner's
    // window is asked to close during it, its waits give up for the rest of it: the next
    // operation starts afresh.
    class Operation
    {
    public:
        explicit Operation(CLiveWait& live);
        ~Operation();
        Operation(const Operation&) = delete;
        Operation& operator=(const Operation&) = delete;
        // False when the owner's control is gone: there is nothing left to do.
        explicit operator bool() const;

    private:
        CLiveWait& m_live;
    };

    // Waiter. Off the owner's thread or without an application it blocks.
    bool WaitUntil(const std::function<bool()>& ready, std::chrono::milliseconds timeout,
                   bool cancellable = true) override;
    bool Cancelled() const override { return m_cancelled; }

    // True while a wait of the owner (its own, or a modal dialog's loop) runs the event loop.
    bool Waiting() const { return m_waiting > 0; }
    // An operation or a wait is in progress.
    bool Busy() const { return m_waiting > 0 || m_operations > 0; }
    // Runs `call` now, after the calls held back earlier; while the owner waits, holds it back
    // until the owner's work is over. True when it ran now.
    bool RunInTurn(std::function<void()> call);
    // Runs the calls held back, in order.
    void CatchUp();
    // Runs a modal dialog's own loop as a wait of the owner.
    template <class Run> auto Modal(Run&& run)
    {
        const WaitMark mark(*this);
        return run();
    }

    // For the owner's control as it is destroyed. False when the owner is idle: delete it now.
    // True when it is in the middle of its work: it is then taken off its parent and hidden,
    // its waits give up, the calls held back are dropped, and it deletes itself later.
    bool Orphan();
    bool Orphaned() const { return m_orphaned; }

private:
    class WaitMark
    {
    public:
        explicit WaitMark(CLiveWait& live) : m_live(live) { ++m_live.m_waiting; }
        ~WaitMark()
        {
            --m_live.m_waiting;
            m_live.Settle();
        }
        WaitMark(const WaitMark&) = delete;
        WaitMark& operator=(const WaitMark&) = delete;

    private:
        CLiveWait& m_live;
    };

    // Drops user input for as long as it lives (nested ones share the one filter).
    class InputBlock
    {
    public:
        explicit InputBlock(CLiveWait& live);
        ~InputBlock();
        InputBlock(const InputBlock&) = delete;
        InputBlock& operator=(const InputBlock&) = delete;

    private:
        CLiveWait& m_live;
    };

    bool eventFilter(QObject* watched, QEvent* event) override;
    void WatchWindow();
    // When the owner's work is over: give the next operation a fresh start, run what was held
    // back, or let an orphaned owner go.
    void Settle();

    QWidget* const m_owner;
    QPointer<QWidget> m_watched; // the top-level window whose closing gives up
    int m_waiting = 0;
    int m_operations = 0;
    int m_blocking = 0; // input blocks alive
    bool m_cancelled = false;
    bool m_orphaned = false;
    bool m_deleting = false;
    bool m_catchingUp = false;
    std::deque<std::function<void()>> m_heldBack;
};
