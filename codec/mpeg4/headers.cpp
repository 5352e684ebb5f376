#include "codec/mpeg4/headers.h"

#include "codec/mpeg4/internal.h"
#include "codec/mpeg4/tables.h"

namespace mpeg4 {

namespace {

// Records why the stream is refused; false, for `return refuse(...)`.
bool refuse(Mpeg4State& s, const char* why)
{
    s.refusal = why;
    return false;
}

constexpr int kStartVos = 0xB0;
constexpr int kStartUserData = 0xB2;
constexpr int kStartVisualObject = 0xB5;
constexpr int kStartVop = 0xB6;

bool prefix_at(const BitReader& br, size_t off)
{
    return br.byte_at(off) == 0 && br.byte_at(off + 1) == 0 && br.byte_at(off + 2) == 1 &&
           off + 3 < br.size();
}

// Byte position of the next 00 00 01 at or after `from`, or the size.
size_t next_start_code(const BitReader& br, size_t from)
{
    size_t p = from;
    while (p + 3 <= br.size() && !(br.byte_at(p) == 0 && br.byte_at(p + 1) == 0 && br.byte_at(p + 2) == 1))
        ++p;
    return p + 3 <= br.size() ? p : br.size();
}

// Clause 6.2.3 quant matrix: up to 64 values in zigzag order, a 0 ends
// the list and repeats the last value.
bool read_matrix(BitReader& br, uint8_t* m)
{
    int last = 0;
    for (int i = 0; i < 64; ++i) {
        int v = static_cast<int>(br.read(8));
        if (v == 0) {
            if (i == 0)
                return false; // the caller says why
            for (; i < 64; ++i)
                m[kZigzag[i]] = static_cast<uint8_t>(last);
            return true;
        }
        m[kZigzag[i]] = static_cast<uint8_t>(v);
        last = v;
    }
    return true;
}

// The whole video_object_layer() syntax of clause 6.2.3 for rectangular
// Simple Profile layers. The camera's fixed 80-bit layout is the case with
// every optional part absent. Tools this decoder lacks are refused here
// rather than misread later.
bool parse_layer(Mpeg4State& s, DECODER& d)
{
    BitReader& br = s.br;
    br.skip(1 + 8); // random_accessible_vol, video_object_type_indication
    int verid = 1;
    if (br.bit()) { // is_object_layer_identifier
        verid = static_cast<int>(br.read(4));
        br.skip(3);
    }
    if (br.read(4) == 15) // extended pixel aspect ratio
        br.skip(16);
    if (br.bit()) { // vol_control_parameters
        br.skip(2 + 1);
        if (br.bit()) // vbv_parameters
            br.skip(15 + 1 + 15 + 1 + 15 + 1 + 3 + 11 + 1 + 15 + 1);
    }
    if (br.read(2) != 0)
        return refuse(s, "layer shape is not rectangular");
    br.skip(1);
    int resolution = static_cast<int>(br.read(16));
    br.skip(1);
    if (br.bit()) // fixed_vop_rate
        br.skip(time_increment_bits(resolution));
    br.skip(1);
    int width = static_cast<int>(br.read(13));
    br.skip(1);
    int height = static_cast<int>(br.read(13));
    br.skip(1);
    if (br.bit())
        return refuse(s, "interlaced layer");
    br.skip(1); // obmc_disable
    if (br.read(verid == 1 ? 1 : 2) != 0)
        return refuse(s, "layer with sprites");
    if (br.bit()) { // not_8_bit: fine when it still says 5-bit quantisers and 8-bit samples
        if (br.read(4) != 5 || br.read(4) != 8)
            return refuse(s, "layer samples are not 8 bits");
    }
    int quant_type = static_cast<int>(br.read(1));
    s.intra_matrix = kDefaultIntraMatrix;
    s.inter_matrix = kDefaultNonIntraMatrix;
    if (quant_type) {
        if (br.bit()) {
            if (!read_matrix(br, s.loaded_intra))
                return refuse(s, "quantiser matrix starting with 0");
            s.intra_matrix = s.loaded_intra;
        }
        if (br.bit()) {
            if (!read_matrix(br, s.loaded_inter))
                return refuse(s, "quantiser matrix starting with 0");
            s.inter_matrix = s.loaded_inter;
        }
    }
    if (verid != 1 && br.bit())
        return refuse(s, "layer with quarter-sample vectors");
    if (!br.bit()) // complexity estimation adds picture header fields
        return refuse(s, "layer with complexity estimation");
    br.skip(1); // resync_marker_disable: a marker, if present, fails its picture
    if (br.bit())
        return refuse(s, "data-partitioned layer");
    if (verid != 1 && (br.bit() || br.bit()))
        return refuse(s, "layer with newpred or reduced resolution");
    if (br.bit())
        return refuse(s, "scalable layer");
    if (br.overrun())
        return refuse(s, "layer header runs past the input");
    // The buffers are sized for the creation size and never reallocated.
    if (width <= 0 || height <= 0)
        return refuse(s, "layer of no width or height");
    if (width > s.create_w || height > s.create_h)
        return refuse(s, "layer larger than the decoder's creation size");
    d.width = width;
    d.height = height;
    d.upscaled = 0;
    s.time_inc_resolution = resolution;
    s.quant_type = quant_type;
    return true;
}

} // namespace

int time_increment_bits(int resolution)
{
    int r = static_cast<int16_t>(static_cast<uint16_t>(resolution));
    if (r <= 0)
        return r < 0 ? 16 : 1;
    int bits = 0;
    for (int v = r - 1; v > 0; v >>= 1)
        ++bits;
    return bits < 1 ? 1 : bits;
}

bool parse_config_headers(Mpeg4State& s, DECODER& d)
{
    BitReader& br = s.br;
    for (;;) {
        size_t at = br.byte_pos();
        if (!br.byte_aligned() || !prefix_at(br, at))
            return refuse(s, "no start code where a header must begin");
        int code = br.byte_at(at + 3);
        if (code == kStartVop)
            return true;
        br.seek_byte(at + 4);
        if (code == kStartVos) {
            br.skip(8);
        } else if (code == kStartVisualObject) {
            if (br.bit())
                br.skip(4 + 3);
            int type = static_cast<int>(br.read(4));
            if (type != 1)
                return refuse(s, "visual object that is not video");
            if (br.bit()) { // video_signal_type
                br.skip(3 + 1);
                if (br.bit())
                    br.skip(24);
            }
        } else if (code <= 0x1F) {
        } else if (code >= 0x20 && code <= 0x2F) {
            if (!parse_layer(s, d))
                return false;
        } else if (code == 0xB3) {
            return refuse(s, "group of pictures header");
        } else if (code != kStartUserData) {
            return refuse(s, "start code outside the configuration headers");
        }
        if (br.overrun())
            return refuse(s, "configuration header runs past the input");
        // Every header ends with stuffing up to the next start code; user
        // data is skipped whole. Running out of input fails the pass.
        size_t next = next_start_code(br, code == kStartUserData ? at + 1 : (br.bit_pos() + 7) / 8);
        if (next + 3 >= br.size())
            return refuse(s, "configuration headers without a picture after them");
        br.seek_byte(next);
    }
}

bool parse_vop_header(Mpeg4State& s)
{
    BitReader& br = s.br;
    if (br.read(16) != 0 || br.read(8) != 1 || br.read(8) != kStartVop)
        return refuse(s, "no picture start code");
    VopHeader& v = s.vop;
    v.coding_type = static_cast<int>(br.read(2));
    while (br.bit()) { // modulo_time_base
        if (br.overrun())
            return refuse(s, "picture header runs past the input");
    }
    br.skip(1);
    br.skip(s.time_inc_bits);
    br.skip(1);
    v.coded = br.bit();
    v.rounding = 0;
    v.fcode = 1;
    if (v.coded) {
        if (v.coding_type == kVopP)
            v.rounding = br.bit();
        br.skip(3); // intra_dc_vlc_thr: DC always uses the size codes
        v.quant = static_cast<int>(br.read(5));
        if (v.coding_type == kVopP)
            v.fcode = static_cast<int>(br.read(3));
        // Quantiser 0 and fcode 0 are forbidden values.
        if (v.quant == 0 || v.fcode == 0)
            return refuse(s, "picture quantiser or vector range of 0");
    }
    if (br.overrun())
        return refuse(s, "picture header runs past the input");
    return true;
}

} // namespace mpeg4
