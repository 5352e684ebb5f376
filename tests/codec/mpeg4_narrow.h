// Rewrites an MPEG-4 Visual elementary stream from another encoder into the
// camera's narrow layout: the first configuration headers with the layer
// header in its fixed 80-bit form, group-of-VOP and repeated headers dropped,
// every picture's bytes untouched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mpeg4test {

struct NarrowStream {
    std::vector<uint8_t> bytes;
    // Start of each decoder call's data: the first holds the headers too.
    std::vector<size_t> calls;
    int width = 0, height = 0, quant_type = 0;
};

// False with a reason when the stream uses tools the layout cannot express.
// With keep_layer the encoder's own layer header is kept as it is (only
// group-of-VOP and repeated headers go), for the decoder's wider syntax.
bool to_narrow(const std::vector<uint8_t>& in, NarrowStream& out, std::string& why, bool keep_layer = false);

// Splits narrow-layout bytes into decoder calls (at each picture start code).
std::vector<size_t> split_calls(const std::vector<uint8_t>& bytes);

bool read_file(const std::string& path, std::vector<uint8_t>& out);

} // namespace mpeg4test
