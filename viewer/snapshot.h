#pragma once
// The snapshot: a request the UI thread raises and the painter serves with its next picture, and
// the Snapshot button's wait for it and save.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/wait.h"

class CImageHolder;
class CPaintStep;

// Each request has a ticket; a picture is kept only for the request that is still pending, so a
// painter that was still serving a withdrawn request never leaves its picture for a later one.
class CSnapshotHandOver
{
public:
    CSnapshotHandOver();
    ~CSnapshotHandOver();
    CSnapshotHandOver(const CSnapshotHandOver&) = delete;
    CSnapshotHandOver& operator=(const CSnapshotHandOver&) = delete;

    // UI thread: a new request; whatever was served before and not taken is dropped.
    void Request();
    bool Pending() const { return m_pending.load() != 0; }
    // UI thread: ends the request, with the picture served for it (an empty holder when the
    // painter could not make one), or nullptr when none was; a late one is then refused.
    std::unique_ptr<CImageHolder> Take();
    // UI thread: ends the request and drops what was served for it.
    void Withdraw();

    // Painter thread: the ticket of the pending request, 0 when there is none.
    uint64_t Claim() const { return m_pending.load(); }
    // Painter thread: the picture for `ticket`; false (and dropped) when that request has
    // ended or been replaced meanwhile.
    bool Deliver(uint64_t ticket, std::unique_ptr<CImageHolder> picture);

private:
    std::atomic<uint64_t> m_pending{0}; // written under m_lock
    std::mutex m_lock;
    uint64_t m_lastTicket = 0;              // guarded by m_lock
    std::unique_ptr<CImageHolder> m_served; // guarded by m_lock
    bool m_servedReady = false;             // guarded by m_lock
};

struct SnapshotWait
{
    std::chrono::milliseconds poll{100};
    int polls = 51;
};

struct SavedSnapshot
{
    std::string file;        // the file written; empty when none was
    bool notWritten = false; // a picture came but its file could not be written
};

// The Snapshot button: asks `view` for its next picture, waits for it, and saves it as a JPEG in
// `folder` named from `localTime`. A folder that has gone since is made again (one level), as
// when it was first read. The wait goes through `waiter`, so a window can go on painting.
SavedSnapshot SaveSnapshot(CPaintStep& view, const SnapshotWait& wait, const std::string& folder,
                           const std::function<std::tm()>& localTime,
                           platform::Waiter& waiter = platform::BlockingWaiter());
