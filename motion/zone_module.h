#pragma once
// What one process shares among all its motion-zone controls: the stream client, the painter,
// the video queue and the live flag. Only one panel can show live video at a time; the panel
// that paints and receives the workers' results is recorded here.

#include "motion/zone_painter.h"
#include "platform/messages.h"
#include "stream/asf_player.h"
#include "stream/frame_chain.h"

#include <atomic>
#include <mutex>

// The workers post through this; it forwards to the recorded panel, or drops the message when
// none is recorded, so a panel can go away while the workers still run.
class CRecordedPanel final : public platform::MessageTarget
{
public:
    void Record(platform::MessageTarget* panel);
    // Forgets `panel` if it is the recorded one.
    void Forget(platform::MessageTarget* panel);
    platform::MessageTarget* Current() const;
    void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    // The workers' results so far, and the last one, for the host's status line.
    uint64_t ResultCount() const { return m_resultCount.load(); }
    int LastResult() const { return m_lastResult.load(); }

private:
    std::atomic<uint64_t> m_resultCount{0};
    std::atomic<int> m_lastResult{0};
    mutable std::mutex m_lock;
    platform::MessageTarget* m_panel = nullptr; // guarded by m_lock
};

class CZoneModule
{
public:
    // Built on first use; its workers are stopped and joined when the process ends.
    static CZoneModule& Get();
    ~CZoneModule();

    CRecordedPanel& Recorded() { return m_recorded; }
    CFrameChain& Video() { return m_video; }
    CZonePainter& Painter() { return m_painter; }
    CAsfPlayer& Player() { return m_player; }
    int VideoCap() const { return m_videoCap.load(); }

    // Set while a panel of the process shows live video.
    std::atomic<bool> live{false};
    // The panel whose live video runs; UI thread only. Another panel leaves that video alone.
    platform::MessageTarget* liveOwner = nullptr;

private:
    CZoneModule();

    CRecordedPanel m_recorded;
    CFrameChain m_video;
    std::atomic<int> m_videoCap{kInitialVideoCap};
    CZonePainter m_painter;
    CAsfPlayer m_player;
};
