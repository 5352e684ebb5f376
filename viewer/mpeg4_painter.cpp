#include "viewer/mpeg4_painter.h"

#include "platform/clock.h"
#include "platform/messages.h"
#include "stream/frame_chain.h"

#include <algorithm>
#include <new>

CMpeg4Painter::CMpeg4Painter(CFrameChain& video, CPanelClock& clock, std::atomic<int>& videoCap,
                             CDrawSurface* surface, platform::MessageTarget* panel)
    : m_video(video), m_clock(clock), m_videoCap(videoCap), m_panel(panel), m_view(surface)
{
}

CMpeg4Painter::~CMpeg4Painter()
{
    Shutdown();
}

void CMpeg4Painter::Prepare(int width, int height, const uint8_t* config, size_t configLength)
{
    // A thread of an earlier connection must be gone before its decoder is replaced.
    Shutdown();
    m_view.SetSizes(width, height);
    m_view.Painted().Forget();
    if (!m_path.Open(config, configLength))
        return;
    m_ready = true;
    if (auto* panel = m_panel.load())
        panel->Post(WM_VIDEO_READY, 0, 0);
}

void CMpeg4Painter::CloseDecoder()
{
    // The painter thread uses the decoder until it ends; it ends promptly once asked to.
    Shutdown();
    m_path.Close();
    m_ready = false;
}

void CMpeg4Painter::OnError(int code)
{
    if (auto* panel = m_panel.load())
        panel->Post(WM_PLAYER_RESULT, static_cast<uintptr_t>(code), 0);
}

int CMpeg4Painter::Run()
{
    bool capSet = false;
    try {
        while (!m_stop) {
            platform::SleepMs(1);
            uint32_t timestamp = 0;
            if (!DecodeQueuedFrame(m_video, m_path, m_counts, &timestamp))
                continue;
            const int width = m_path.Width(), height = m_path.Height();
            if (!capSet) {
                m_videoCap = width <= 400 ? 36 : 12;
                capSet = true;
            }
            const bool paced = m_avSync;
            if (paced) {
                bool paint = false;
                while (m_avSync) {
                    const uint32_t clock = m_clock.Get();
                    if (timestamp < clock) {
                        paint = true;
                        m_maxSyncLag = std::max(m_maxSyncLag.load(), clock - timestamp);
                        break;
                    }
                    if (m_stop)
                        return 0;
                    platform::SleepMs(1);
                }
                if (!paint)
                    continue;
            }
            m_view.Paint(m_path.Rgb(), width, height, width * 3);
            m_view.Painted().Note(timestamp, paced);
            ++m_painted;
        }
    } catch (const std::bad_alloc&) {
        return 100;
    } catch (...) {
        return 800;
    }
    return 0;
}
