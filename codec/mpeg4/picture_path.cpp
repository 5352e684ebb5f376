#include "codec/mpeg4/picture_path.h"

#include "codec/mpeg4/decoder.h"
#include "stream/frame_chain.h"

#include <cstring>

namespace {

// While no layer header has been seen the decoder writes a doubled picture of its creation size;
// its output buffer must take that too, though such a picture may then be skipped.
size_t DecoderOutputSize(int decoderProfile)
{
    return decoderProfile == DECODER_PROFILE_MOTION ? size_t(6) * 640 * 480
                                                    : size_t(6) * 1024 * 768;
}

} // namespace

CMpeg4PicturePath::CMpeg4PicturePath(const Mpeg4PictureProfile& profile)
    : m_profile(profile), m_input(profile.inputSize),
      m_output(DecoderOutputSize(profile.decoderProfile)), m_rgb(profile.maxPixels * 3)
{
}

CMpeg4PicturePath::~CMpeg4PicturePath()
{
    Close();
}

bool CMpeg4PicturePath::Open(const uint8_t* config, size_t configLength)
{
    Close();
    m_config.assign(config, config + configLength);
    if (m_profile.sharedTables) {
        init_YUV2RGB_tab();
        m_sharedTables = true;
    } else if (!m_converter.BuildTables()) {
        return false;
    }
    m_decoder = decoder_create_profile(m_profile.decoderProfile);
    if (!m_decoder) {
        Close();
        return false;
    }
    m_firstFrame = true;
    return true;
}

void CMpeg4PicturePath::Close()
{
    if (m_decoder)
        decoder_destroy(m_decoder);
    m_decoder = nullptr;
    if (m_sharedTables)
        delete_YUV2RGB_tab();
    m_sharedTables = false;
    m_converter.FreeTables();
}

CMpeg4PicturePath::Outcome CMpeg4PicturePath::Decode(const uint8_t* frame, size_t size)
{
    const size_t prefix = m_firstFrame ? m_config.size() : 0;
    m_firstFrame = false;
    if (!m_decoder || prefix + size > m_input.size())
        return Outcome::Skipped;
    // Only the first frame needs the configuration in front; the others decode where they lie.
    const uint8_t* input = frame;
    if (prefix) {
        std::memcpy(m_input.data(), m_config.data(), prefix);
        if (size)
            std::memcpy(m_input.data() + prefix, frame, size);
        input = m_input.data();
    }
    const size_t length = prefix + size;
    m_lastInput = length;
    if (prefix)
        m_firstInput = length;

    int used = 0;
    DECODER_VIEW view;
    const int result = decoder_decode_view(m_decoder, m_output.data(), input ? input : m_input.data(),
                                           length, &used, &view);
    m_decoder->postfilter_on = 0;
    if (result != 0)
        return Outcome::DecodeFailed;
    const int width = view.width, height = view.height;
    // A picture the buffer cannot hold is skipped, never written past it.
    if (width <= 0 || height <= 0 || width > m_profile.maxWidth || height > m_profile.maxHeight ||
        size_t(width) * size_t(height) > m_profile.maxPixels)
        return Outcome::Skipped;
    // The decoder's planes straight into the picture: no copy of the decoded picture between.
    const int converted =
        m_profile.sharedTables
            ? ConvertYUVtoRGBPlanes(view.plane[0], view.stride[0], view.plane[1], view.stride[1],
                                    view.plane[2], view.stride[2], m_rgb.data(), width, height)
            : m_converter.Convert(view.plane[0], view.stride[0], view.plane[1], view.stride[1],
                                  view.plane[2], view.stride[2], m_rgb.data(), width, height);
    if (!converted)
        return Outcome::Skipped;
    m_width = width;
    m_height = height;
    return Outcome::Picture;
}

bool DecodeQueuedFrame(CFrameChain& video, CMpeg4PicturePath& path, Mpeg4PainterCounts& counts,
                       uint32_t* timestamp)
{
    uint8_t* data = nullptr;
    int32_t size = 0;
    FrameChainNode* node = video.Remove(&data, &size, timestamp);
    if (!node)
        return false;
    const auto outcome = path.Decode(data, size > 0 ? size_t(size) : 0);
    FreeFrame(node);
    counts.lastInput = path.LastInputLength();
    counts.firstInput = path.FirstInputLength();
    if (outcome == CMpeg4PicturePath::Outcome::Skipped)
        ++counts.skipped;
    else if (outcome == CMpeg4PicturePath::Outcome::DecodeFailed)
        ++counts.decodeFailures;
    return outcome == CMpeg4PicturePath::Outcome::Picture;
}
