#pragma once
// Paints the ASF stream's MPEG-4 pictures: decodes each with the stream's configuration headers
// in front of the first, converts it to 24-bit pixels and paints it with the shared paint step.
// It also sets the panel's video cap once per connection from the first decoded picture.

#include "codec/mpeg4/picture_path.h"
#include "stream/media_sinks.h"
#include "viewer/paint_step.h"
#include "viewer/picture_limits.h"

#include <atomic>
#include <memory>
#include <vector>

class CFrameChain;
class CPanelClock;
namespace platform {
class MessageTarget;
}

class CMpeg4Painter : public IMpeg4Painter
{
public:
    // The largest picture the painter holds.
    static constexpr int kMaxWidth = kLargestPictureWidth;
    static constexpr int kMaxHeight = kLargestPictureHeight;
    static_assert(kViewerPictureProfile.maxPixels == size_t(kMaxWidth) * kMaxHeight);
    static constexpr size_t kInputSize = kViewerPictureProfile.inputSize;

    CMpeg4Painter(CFrameChain& video, CPanelClock& clock, std::atomic<int>& videoCap,
                  CDrawSurface* surface, platform::MessageTarget* panel);
    ~CMpeg4Painter() override;

    void SetPanel(platform::MessageTarget* panel) { m_panel = panel; }
    void Prepare(int width, int height, const uint8_t* config, size_t configLength) override;
    bool DecoderOpen() const override { return m_path.IsOpen(); }
    void CloseDecoder() override;
    int Run() override;
    void OnError(int code) override;

    CPaintStep& View() { return m_view; }
    bool Ready() const { return m_ready; }
    uint64_t Painted() const { return m_painted; }
    uint64_t DecodeFailures() const { return m_counts.decodeFailures; }
    // While audio plays: the largest lead of the panel clock over a picture's time stamp when
    // the picture was released for painting.
    uint32_t MaxSyncLag() const { return m_maxSyncLag; }
    uint64_t Skipped() const { return m_counts.skipped; }
    // Bytes handed to the decoder for the last picture it was given (tests check the first one
    // carried the configuration in front).
    size_t LastInputLength() const { return m_counts.lastInput; }
    size_t FirstInputLength() const { return m_counts.firstInput; }
    const Mpeg4PictureProfile& Profile() const { return m_path.Profile(); }

private:
    CFrameChain& m_video;
    CPanelClock& m_clock;
    std::atomic<int>& m_videoCap;
    std::atomic<platform::MessageTarget*> m_panel;
    CPaintStep m_view;
    CMpeg4PicturePath m_path{kViewerPictureProfile};
    std::atomic<bool> m_ready{false};
    std::atomic<uint32_t> m_maxSyncLag{0};
    std::atomic<uint64_t> m_painted{0};
    Mpeg4PainterCounts m_counts;
};
