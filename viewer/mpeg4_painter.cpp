#include "viewer/mpeg4_painter.h"

#include "codec/mpeg4/decoder.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "stream/frame_chain.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// While no layer header has been seen the decoder writes a doubled picture of its creation size;
// its output buffer must take that too, though such a picture is then skipped.
constexpr size_t kDecoderOutputSize = size_t(6) * 1024 * 768;

} // namespace

CMpeg4Painter::CMpeg4Painter(CFrameChain& video, CPanelClock& clock, std::atomic<int>& videoCap,
                             CDrawSurface* surface, platform::MessageTarget* panel)
    : m_video(video), m_clock(clock), m_videoCap(videoCap), m_panel(panel), m_view(surface),
      m_input(kInputSize), m_output(kDecoderOutputSize), m_rgb(size_t(kMaxWidth) * kMaxHeight * 3)
{
}

CMpeg4Painter::~CMpeg4Painter()
{
    Shutdown();
    if (m_decoder)
        decoder_destroy(m_decoder);
}

void CMpeg4Painter::Prepare(int width, int height, const uint8_t* config, size_t configLength)
{
    // A thread of an earlier connection must be gone before its decoder is replaced.
    Shutdown();
    m_view.SetSizes(width, height);
    m_config.assign(config, config + configLength);
    if (!m_converter.BuildTables()) {
        m_config.clear();
        return;
    }
    if (m_decoder)
        decoder_destroy(m_decoder);
    m_decoder = decoder_create();
    if (!m_decoder)
        return;
    m_ready = true;
    m_firstFrame = true;
    if (auto* panel = m_panel.load())
        panel->Post(WM_VIDEO_READY, 0, 0);
}

void CMpeg4Painter::CloseDecoder()
{
    // The painter thread uses the decoder until it ends; it ends promptly once asked to.
    Shutdown();
    if (m_decoder)
        decoder_destroy(m_decoder);
    m_decoder = nullptr;
    m_converter.FreeTables();
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
            uint8_t* data = nullptr;
            int32_t size = 0;
            uint32_t timestamp = 0;
            FrameChainNode* node = m_video.Remove(&data, &size, &timestamp);
            if (!node)
                continue;
            size_t length = 0;
            const size_t frameSize = size > 0 ? size_t(size) : 0;
            const size_t prefix = m_firstFrame ? m_config.size() : 0;
            m_firstFrame = false;
            const bool fits = prefix + frameSize <= m_input.size();
            if (fits) {
                if (prefix)
                    std::memcpy(m_input.data(), m_config.data(), prefix);
                if (frameSize)
                    std::memcpy(m_input.data() + prefix, data, frameSize);
                length = prefix + frameSize;
            }
            FreeFrame(node);
            if (!fits || !m_decoder) {
                ++m_skipped;
                continue;
            }
            m_lastInput = length;
            if (prefix)
                m_firstInput = length;

            int used = 0;
            const int result = decoder_decode_sized(m_decoder, m_output.data(), m_input.data(),
                                                    length, &used);
            m_decoder->postfilter_on = 0;
            if (result != 0) {
                ++m_decodeFailures;
                continue;
            }
            int width = m_decoder->width, height = m_decoder->height;
            if (m_decoder->upscaled) {
                width *= 2;
                height *= 2;
            }
            // The picture buffer holds 704 x 480: a larger picture is skipped, not written.
            if (width <= 0 || height <= 0 || width > kMaxWidth * 2 || height > kMaxHeight * 2 ||
                size_t(width) * size_t(height) * 3 > m_rgb.size()) {
                ++m_skipped;
                continue;
            }
            if (!capSet) {
                m_videoCap = width <= 400 ? 36 : 12;
                capSet = true;
            }
            const size_t luma = size_t(width) * size_t(height);
            if (!m_converter.Convert(m_output.data(), m_output.data() + luma,
                                     m_output.data() + luma + luma / 4, m_rgb.data(), width,
                                     height)) {
                ++m_skipped;
                continue;
            }
            if (m_avSync) {
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
            m_view.Paint(m_rgb.data(), width, height, width * 3);
            ++m_painted;
        }
    } catch (const std::bad_alloc&) {
        return 100;
    } catch (...) {
        return 800;
    }
    return 0;
}
