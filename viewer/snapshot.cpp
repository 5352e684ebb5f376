#include "viewer/snapshot.h"

#include "codec/image_holder.h"
#include "viewer/paint_step.h"
#include "viewer/picture_folder.h"

#include <filesystem>
#include <thread>

CSnapshotHandOver::CSnapshotHandOver() = default;
CSnapshotHandOver::~CSnapshotHandOver() = default;

void CSnapshotHandOver::Request()
{
    std::unique_ptr<CImageHolder> stale;
    std::lock_guard lock(m_lock);
    stale = std::move(m_served);
    m_servedReady = false;
    m_pending = ++m_lastTicket;
}

std::unique_ptr<CImageHolder> CSnapshotHandOver::Take()
{
    std::lock_guard lock(m_lock);
    m_pending = 0;
    if (!m_servedReady)
        return nullptr;
    m_servedReady = false;
    return std::move(m_served);
}

void CSnapshotHandOver::Withdraw()
{
    Take();
}

bool CSnapshotHandOver::Deliver(uint64_t ticket, std::unique_ptr<CImageHolder> picture)
{
    std::lock_guard lock(m_lock);
    if (ticket == 0 || m_pending.load() != ticket)
        return false;
    m_served = std::move(picture);
    m_servedReady = true;
    m_pending = 0;
    return true;
}

SavedSnapshot SaveSnapshot(CPaintStep& view, const SnapshotWait& wait, const std::string& folder,
                           const std::function<std::tm()>& localTime, platform::Waiter& waiter)
{
    view.RequestSnapshot();
    for (int i = 0; i < wait.polls && view.SnapshotRequested(); ++i)
        if (!waiter.Sleep(wait.poll))
            break;
    std::unique_ptr<CImageHolder> picture = view.TakeSnapshot();
    if (!picture || !picture->IsValid())
        return {};
    if (!folder.empty()) {
        std::error_code ec;
        if (!std::filesystem::exists(folder, ec))
            std::filesystem::create_directory(folder, ec); // a failure shows in the write below
    }
    SavedSnapshot saved;
    saved.file = SnapshotFileName(folder, localTime());
    if (!picture->SaveToFile(saved.file.c_str(), FormatJpeg)) {
        saved.file.clear();
        saved.notWritten = true;
    }
    return saved;
}
