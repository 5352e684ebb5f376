#pragma once
// The motion-zone control's MPEG-4 painter: decodes the stream into one 640 x 480 picture buffer
// and asks the recorded panel to repaint on one decoded picture in three. The panel paints the
// latest picture whenever it repaints; the picture and the have-picture flag outlive a stop.

#include "codec/mpeg4/picture_path.h"
#include "stream/media_sinks.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

class CFrameChain;
namespace platform {
class MessageTarget;
}

// Posted to the recorded panel: invalidate the picture area without erasing.
inline constexpr uint32_t WM_ZONE_PICTURE = 0x1B20;

class CZonePainter : public IMpeg4Painter
{
public:
    static constexpr int kMaxWidth = 640;
    static constexpr int kMaxHeight = 480;

    CZonePainter(CFrameChain& video, std::atomic<int>& videoCap, platform::MessageTarget* panel);
    ~CZonePainter() override;

    void Prepare(int width, int height, const uint8_t* config, size_t configLength) override;
    bool DecoderOpen() const override { return m_alive.load(); }
    void CloseDecoder() override;
    int Run() override;
    void OnError(int code) override;

    bool HavePicture() const { return m_havePicture.load(); }
    // Calls `use(rgb, width, height)` with the latest picture (bottom-up rows of blue, green,
    // red), under the lock the painter thread takes to replace it. Nothing before a picture.
    template <class Use>
    void WithPicture(Use&& use) const
    {
        std::lock_guard lock(m_pictureLock);
        if (m_pictureWidth > 0)
            use(m_picture.data(), m_pictureWidth, m_pictureHeight);
    }

    // The size the stream announced at prepare time.
    int PreparedWidth() const { return m_preparedWidth.load(); }
    int PreparedHeight() const { return m_preparedHeight.load(); }
    uint64_t Decoded() const { return m_decoded.load(); }
    uint64_t Repaints() const { return m_repaints.load(); }
    uint64_t DecodeFailures() const { return m_counts.decodeFailures.load(); }
    uint64_t Skipped() const { return m_counts.skipped.load(); }
    size_t FirstInputLength() const { return m_counts.firstInput.load(); }
    size_t LastInputLength() const { return m_counts.lastInput.load(); }

private:
    CFrameChain& m_video;
    std::atomic<int>& m_videoCap;
    platform::MessageTarget* m_panel;
    CMpeg4PicturePath m_path{kZonePictureProfile};
    std::atomic<bool> m_alive{false};
    std::atomic<int> m_preparedWidth{0}, m_preparedHeight{0};

    mutable std::mutex m_pictureLock;
    std::vector<uint8_t> m_picture; // guarded by m_pictureLock
    int m_pictureWidth = 0;         // guarded by m_pictureLock
    int m_pictureHeight = 0;        // guarded by m_pictureLock
    std::atomic<bool> m_havePicture{false};
    int m_repaintCounter = 0; // painter thread only; 0 to 2

    std::atomic<uint64_t> m_decoded{0}, m_repaints{0};
    Mpeg4PainterCounts m_counts;
};
