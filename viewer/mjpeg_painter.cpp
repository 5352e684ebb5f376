#include "viewer/mjpeg_painter.h"

#include "codec/image_holder.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "stream/frame_chain.h"
#include "viewer/picture_limits.h"

#include <algorithm>
#include <new>

namespace {

// The paint step and the snapshot take 24-bit rows; a grey picture is widened through its
// palette into `out`, which keeps its storage from one picture to the next.
const uint8_t* WidenIndexed(const CImageHolder& holder, std::vector<uint8_t>& out, int* stride)
{
    const uint32_t width = holder.GetWidth(), height = holder.GetHeight();
    const uint8_t* palette = holder.GetDIB() + kImageInfoHeaderSize;
    *stride = int(width * 3);
    out.resize(size_t(width) * 3 * height);
    for (uint32_t row = 0; row < height; ++row) {
        const uint8_t* in = holder.GetBits() + size_t(row) * holder.GetEffWidth();
        uint8_t* px = out.data() + size_t(row) * width * 3;
        for (uint32_t x = 0; x < width; ++x, px += 3)
            std::copy_n(palette + 4 * size_t(in[x]), 3, px);
    }
    return out.data();
}

} // namespace

CMJpegPainter::CMJpegPainter(CFrameChain& video, CPanelClock& clock, CDrawSurface* surface,
                             platform::MessageTarget* panel)
    : m_video(video), m_clock(clock), m_panel(panel), m_view(surface)
{
}

CMJpegPainter::~CMJpegPainter()
{
    Shutdown();
    FreePending();
}

void CMJpegPainter::FreePending()
{
    if (m_node) {
        FreeFrame(m_node);
    }
    m_node = nullptr;
    m_data = nullptr;
}

void CMJpegPainter::Prepare(int width, int height)
{
    m_view.SetSizes(width, height);
    m_view.Painted().Forget();
    m_ready = true;
    if (auto* panel = m_panel.load())
        panel->Post(WM_VIDEO_READY, 0, 0);
}

void CMJpegPainter::OnError(int code)
{
    if (auto* panel = m_panel.load())
        panel->Post(WM_PLAYER_RESULT, static_cast<uintptr_t>(code), 0);
}

int CMJpegPainter::Run()
{
    try {
        FreePending();
        m_holder = std::make_unique<CImageHolder>(FormatJpeg);
        // A picture beyond what the viewer paints fails like any frame that does not decode.
        m_holder->SetSizeLimit(kLargestPictureWidth, kLargestPictureHeight);
        while (!m_stop) {
            platform::SleepMs(1);
            int32_t size = 0;
            uint32_t timestamp = 0;
            m_node = m_video.Remove(&m_data, &size, &timestamp);
            if (!m_node)
                continue;
            if (!m_data || size <= 0) {
                FreePending();
                continue;
            }
            if (!m_holder->Decode(m_data, uint32_t(size), FormatJpeg)) {
                m_holder->FreeDib();
                FreePending();
                ++m_decodeFailures;
                m_ready = false;
                return 430;
            }
            bool paint = true;
            const bool paced = m_avSync;
            if (paced) {
                paint = false;
                while (m_avSync) {
                    const uint32_t clock = m_clock.Get();
                    if (timestamp < clock) {
                        paint = true;
                        m_maxSyncLag = std::max(m_maxSyncLag.load(), clock - timestamp);
                        break;
                    }
                    if (m_stop)
                        break;
                    platform::SleepMs(1);
                }
            }
            if (paint) {
                const uint8_t* bits = m_holder->GetBits();
                int stride = int(m_holder->GetEffWidth());
                if (m_holder->GetBpp() == 8)
                    bits = WidenIndexed(*m_holder, m_expanded, &stride);
                m_view.Paint(bits, int(m_holder->GetWidth()), int(m_holder->GetHeight()), stride);
                m_view.Painted().Note(timestamp, paced);
                ++m_painted;
            }
            m_holder->FreeDib();
            FreePending();
        }
    } catch (const std::bad_alloc&) {
        FreePending();
        m_ready = false;
        return 100;
    } catch (...) {
        FreePending();
        m_ready = false;
        return 800;
    }
    m_ready = false;
    return 0;
}
