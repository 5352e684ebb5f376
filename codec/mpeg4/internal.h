// Decoder state shared by the stages. Owned by one decoder, touched only by
// the thread that calls decoder_decode on it.
#pragma once

#include "codec/mpeg4/bitreader.h"
#include "codec/mpeg4/decoder.h"
#include "codec/mpeg4/dsp.h"
#include "codec/mpeg4/idct.h"
#include "codec/mpeg4/motion.h"

#include <cstdint>

namespace mpeg4 {

enum class Profile { Viewer, Motion };

constexpr int kLumaBorder = 32;
constexpr int kChromaBorder = 16;

// A picture with replicated borders: origin points at the first picture
// sample, and the allocation reaches `border` samples past every edge for
// the creation size, so any stream size up to it fits with its own stride.
struct Frame {
    uint8_t* alloc[3] = {nullptr, nullptr, nullptr};
    uint8_t* plane[3] = {nullptr, nullptr, nullptr};
};

struct MbInfo {
    uint8_t intra; // intra in the picture being decoded
    uint8_t quant;
    // Per block: dequantised DC, quantised first row AC 1..7, first column AC 1..7.
    int32_t pred[6][15];
};

enum VopType { kVopI = 0, kVopP = 1 };

struct VopHeader {
    int coding_type = 0;
    int rounding = 0;
    int quant = 1;
    int fcode = 1;
    int coded = 1;
};

// Picture plane p's origin offset inside its allocation, for stride s.
inline size_t plane_offset(int p, int s) { return p == 0 ? 32 * static_cast<size_t>(s) + 32 : 16 * static_cast<size_t>(s) + 16; }

} // namespace mpeg4

// The decoder's private record behind DECODER::state.
struct Mpeg4State {
    mpeg4::Profile profile = mpeg4::Profile::Viewer;
    int create_w = 0, create_h = 0;

    // Geometry of the stream, set up on the first call.
    int pic_w = 0, pic_h = 0;
    // The decoded area: whole macroblocks. The reference keeps all of it and
    // is extended from its edges (clause 7.6.4), not from the picture's.
    int coded_w = 0, coded_h = 0;
    int mb_cols = 0, mb_rows = 0;
    int stride[3] = {0, 0, 0};
    int time_inc_resolution = 0;
    int time_inc_bits = 1;
    int quant_type = 0;
    const uint8_t* intra_matrix = nullptr;
    const uint8_t* inter_matrix = nullptr;
    uint8_t loaded_intra[64];
    uint8_t loaded_inter[64];

    mpeg4::VopHeader vop;
    bool error = false;
    const char* refusal = nullptr; // why the last call failed; null after a picture
    // A picture was decoded at this geometry; until then only an I-picture is.
    bool have_ref = false;

    mpeg4::Frame ref; // last good picture, borders replicated
    mpeg4::Frame cur; // picture being decoded; swapped with ref after success
    mpeg4::MbInfo* mbs = nullptr;
    // Per macroblock: cur and ref hold the same samples there (it was not coded in the picture
    // that ref holds, so that picture copied it from the one cur holds). A not-coded macroblock
    // then needs no copy. Cleared before a macroblock is written (so a refused picture leaves
    // it true), and everywhere when the filter has run.
    uint8_t* same = nullptr;
    mpeg4::Mv* mvs = nullptr; // four block vectors per macroblock
    uint8_t* work = nullptr; // doubled-output work area

    mpeg4::BitReader br;
    const mpeg4::Dsp* dsp = nullptr;
    mpeg4::IdctFn idct = nullptr; // the profile's transform from dsp
    const mpeg4::McKernels* mc = nullptr;
    alignas(16) int32_t block[64];
};

