#pragma once
// Paints the Motion-JPEG stream: takes pictures from the video queue, decodes them, holds each
// back until the panel clock passes it while audio plays, and paints it.

#include "stream/media_sinks.h"
#include "viewer/paint_step.h"

#include <atomic>
#include <memory>
#include <vector>

class CFrameChain;
class CPanelClock;
class CImageHolder;
struct FrameChainNode;
namespace platform {
class MessageTarget;
}

class CMJpegPainter : public IMJpegPainter
{
public:
    CMJpegPainter(CFrameChain& video, CPanelClock& clock, CDrawSurface* surface,
                  platform::MessageTarget* panel);
    ~CMJpegPainter() override;

    void SetPanel(platform::MessageTarget* panel) { m_panel = panel; }
    void Prepare(int width, int height) override;
    int Run() override;
    void OnError(int code) override;

    CPaintStep& View() { return m_view; }
    bool Ready() const { return m_ready; }
    // Pictures decoded and painted, and pictures that failed to decode, since construction.
    uint64_t Painted() const { return m_painted; }
    uint64_t DecodeFailures() const { return m_decodeFailures; }
    // While audio plays: the largest lead of the panel clock over a picture's time stamp when
    // the picture was released for painting.
    uint32_t MaxSyncLag() const { return m_maxSyncLag; }

private:
    void FreePending();

    CFrameChain& m_video;
    CPanelClock& m_clock;
    std::atomic<platform::MessageTarget*> m_panel;
    CPaintStep m_view;
    std::unique_ptr<CImageHolder> m_holder;
    std::vector<uint8_t> m_expanded; // a grey picture widened to 24 bits; painter thread only
    std::atomic<bool> m_ready{false};
    std::atomic<uint32_t> m_maxSyncLag{0};
    std::atomic<uint64_t> m_painted{0};
    std::atomic<uint64_t> m_decodeFailures{0};

    FrameChainNode* m_node = nullptr; // the frame being worked on
    uint8_t* m_data = nullptr;
};
