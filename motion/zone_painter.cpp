#include "motion/zone_painter.h"

#include "platform/clock.h"
#include "platform/messages.h"

#include <cstring>
#include <new>

CZonePainter::CZonePainter(CFrameChain& video, std::atomic<int>& videoCap,
                           platform::MessageTarget* panel)
    : m_video(video), m_videoCap(videoCap), m_panel(panel),
      m_picture(size_t(kMaxWidth) * kMaxHeight * 3)
{
}

CZonePainter::~CZonePainter()
{
    Shutdown();
}

void CZonePainter::Prepare(int width, int height, const uint8_t* config, size_t configLength)
{
    // A thread of an earlier connection must be gone before its decoder is replaced.
    Shutdown();
    m_preparedWidth = width;
    m_preparedHeight = height;
    m_alive = m_path.Open(config, configLength);
}

void CZonePainter::CloseDecoder()
{
    Shutdown();
    m_path.Close();
    m_alive = false;
}

void CZonePainter::OnError(int code)
{
    if (m_panel)
        m_panel->Post(WM_PLAYER_RESULT, static_cast<uintptr_t>(code), 0);
}

int CZonePainter::Run()
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
                m_videoCap = width <= 400 ? 18 : 6;
                capSet = true;
            }
            {
                // The panel may be painting the previous picture right now.
                std::lock_guard lock(m_pictureLock);
                std::memcpy(m_picture.data(), m_path.Rgb(), size_t(width) * height * 3);
                m_pictureWidth = width;
                m_pictureHeight = height;
            }
            ++m_decoded;
            if (m_repaintCounter == 0) {
                m_repaintCounter = 1;
                m_havePicture = true;
                ++m_repaints;
                if (m_panel)
                    m_panel->Post(WM_ZONE_PICTURE, 0, 0);
            } else if (++m_repaintCounter == 3) {
                m_repaintCounter = 0;
            }
        }
    } catch (const std::bad_alloc&) {
        return kResultMemory;
    } catch (...) {
        return kResultOther;
    }
    return 0;
}
