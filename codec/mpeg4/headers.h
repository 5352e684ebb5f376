// Configuration headers (first call) and the picture header.
#pragma once

#include "codec/mpeg4/decoder.h"

struct Mpeg4State;

namespace mpeg4 {

// Walks the headers up to the picture start code, which is left unread.
// Updates width, height and upscaled on a layer header. False on failure.
bool parse_config_headers(Mpeg4State& s, DECODER& d);

// Picture header from the reader's position. False on failure.
bool parse_vop_header(Mpeg4State& s);

// Bits of vop_time_increment for a resolution (taken as signed 16-bit).
int time_increment_bits(int resolution);

} // namespace mpeg4
