#pragma once
// MPEG-4 Visual (ISO/IEC 14496-2) configuration headers rewritten into the narrow layout that the
// camera's decoder reads: visual object sequence, a visual object header of exactly two bytes, a
// video object, an 80-bit video object layer header with no object layer identifier, no control
// parameters and no fixed picture rate, then any user data. Free of the camera, so tools that
// make test streams from other encoders' output can use it too.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace camsim {

// Bits of the layer header after its start code in the narrow layout, stuffing included.
inline constexpr int kNarrowLayerHeaderBits = 80;

// The configuration headers in `data` (up to the first picture, if any) in the narrow layout;
// nullopt when they are malformed or use something the picture bits would depend on and the
// layout cannot say: a shape other than rectangular, interlace, sprites, OBMC, loaded quantiser
// matrices, quarter-sample, complexity estimation, resync markers, data partitioning, NEWPRED,
// reduced resolution, scalability, B-pictures (low_delay 0) or other than 4:2:0 chroma. Dropped
// fields (PAR aside) describe the stream rather than shape its bits: verid, priority, VBV
// parameters, video signal type and the fixed picture increment. A missing sequence or visual
// object header is supplied; exactly one layer is required.
std::optional<std::vector<uint8_t>> NarrowConfigHeaders(const uint8_t* data, size_t size);

// The frame without its group_of_vop headers (start code 0xB3 up to the next start code);
// every other byte, the pictures' bits included, as it was.
std::vector<uint8_t> StripGroupOfVop(const uint8_t* frame, size_t size);

} // namespace camsim
