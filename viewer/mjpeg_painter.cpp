#include "viewer/mjpeg_painter.h"

#include "codec/image_holder.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "stream/frame_chain.h"
#include "viewer/picture_limits.h"

#include <algorithm>
#include <new>

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
            if (m_avSync) {
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
            if (paint && m_holder->GetBpp() == 24) {
                m_view.Paint(m_holder->GetBits(), int(m_holder->GetWidth()),
                             int(m_holder->GetHeight()), int(m_holder->GetEffWidth()));
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
