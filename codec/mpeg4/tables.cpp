// Transcribed once from ISO/IEC 14496-2 Annex B; the lookups and the LMAX /
// RMAX tables are generated from these lists at compile time so that each
// code appears in exactly one place.
#include "codec/mpeg4/tables.h"

#include <cstddef>

namespace mpeg4 {

// Table B-17 (inter TCOEF), sign bit excluded. Order: last 0 runs 0..26, last 1 runs 0..40.
constexpr Code kInterCodes[kCoefCodes] = {
    {0x2, 2}, {0xf, 4}, {0x15, 6}, {0x17, 7}, {0x1f, 8}, {0x25, 9}, {0x24, 9}, {0x21, 10},
    {0x20, 10}, {0x7, 11}, {0x6, 11}, {0x20, 11}, {0x6, 3}, {0x14, 6}, {0x1e, 8}, {0xf, 10},
    {0x21, 11}, {0x50, 12}, {0xe, 4}, {0x1d, 8}, {0xe, 10}, {0x51, 12}, {0xd, 5}, {0x23, 9},
    {0xd, 10}, {0xc, 5}, {0x22, 9}, {0x52, 12}, {0xb, 5}, {0xc, 10}, {0x53, 12}, {0x13, 6},
    {0xb, 10}, {0x54, 12}, {0x12, 6}, {0xa, 10}, {0x11, 6}, {0x9, 10}, {0x10, 6}, {0x8, 10},
    {0x16, 7}, {0x55, 12}, {0x15, 7}, {0x14, 7}, {0x1c, 8}, {0x1b, 8}, {0x21, 9}, {0x20, 9},
    {0x1f, 9}, {0x1e, 9}, {0x1d, 9}, {0x1c, 9}, {0x1b, 9}, {0x1a, 9}, {0x22, 11}, {0x23, 11},
    {0x56, 12}, {0x57, 12}, {0x7, 4}, {0x19, 9}, {0x5, 11}, {0xf, 6}, {0x4, 11}, {0xe, 6},
    {0xd, 6}, {0xc, 6}, {0x13, 7}, {0x12, 7}, {0x11, 7}, {0x10, 7}, {0x1a, 8}, {0x19, 8},
    {0x18, 8}, {0x17, 8}, {0x16, 8}, {0x15, 8}, {0x14, 8}, {0x13, 8}, {0x18, 9}, {0x17, 9},
    {0x16, 9}, {0x15, 9}, {0x14, 9}, {0x13, 9}, {0x12, 9}, {0x11, 9}, {0x7, 10}, {0x6, 10},
    {0x5, 10}, {0x4, 10}, {0x24, 11}, {0x25, 11}, {0x26, 11}, {0x27, 11}, {0x58, 12}, {0x59, 12},
    {0x5a, 12}, {0x5b, 12}, {0x5c, 12}, {0x5d, 12}, {0x5e, 12}, {0x5f, 12},
};

// Table B-16 (intra TCOEF). Order: last 0 runs 0..14, last 1 runs 0..20.
constexpr Code kIntraCodes[kCoefCodes] = {
    {0x2, 2}, {0x6, 3}, {0xf, 4}, {0xd, 5}, {0xc, 5}, {0x15, 6}, {0x13, 6}, {0x12, 6},
    {0x17, 7}, {0x1f, 8}, {0x1e, 8}, {0x1d, 8}, {0x25, 9}, {0x24, 9}, {0x23, 9}, {0x21, 9},
    {0x21, 10}, {0x20, 10}, {0xf, 10}, {0xe, 10}, {0x7, 11}, {0x6, 11}, {0x20, 11}, {0x21, 11},
    {0x50, 12}, {0x51, 12}, {0x52, 12}, {0xe, 4}, {0x14, 6}, {0x16, 7}, {0x1c, 8}, {0x20, 9},
    {0x1f, 9}, {0xd, 10}, {0x22, 11}, {0x53, 12}, {0x55, 12}, {0xb, 5}, {0x15, 7}, {0x1e, 9},
    {0xc, 10}, {0x56, 12}, {0x11, 6}, {0x1b, 8}, {0x1d, 9}, {0xb, 10}, {0x10, 6}, {0x22, 9},
    {0xa, 10}, {0xd, 6}, {0x1c, 9}, {0x8, 10}, {0x12, 7}, {0x1b, 9}, {0x54, 12}, {0x14, 7},
    {0x1a, 9}, {0x57, 12}, {0x19, 8}, {0x9, 10}, {0x18, 8}, {0x23, 11}, {0x17, 8}, {0x19, 9},
    {0x18, 9}, {0x7, 10}, {0x58, 12}, {0x7, 4}, {0xc, 6}, {0x16, 8}, {0x17, 9}, {0x6, 10},
    {0x5, 11}, {0x4, 11}, {0x59, 12}, {0xf, 6}, {0x16, 9}, {0x5, 10}, {0xe, 6}, {0x4, 10},
    {0x11, 7}, {0x24, 11}, {0x10, 7}, {0x25, 11}, {0x13, 7}, {0x5a, 12}, {0x15, 8}, {0x5b, 12},
    {0x14, 8}, {0x13, 8}, {0x1a, 8}, {0x15, 9}, {0x14, 9}, {0x13, 9}, {0x12, 9}, {0x11, 9},
    {0x26, 11}, {0x27, 11}, {0x5c, 12}, {0x5d, 12}, {0x5e, 12}, {0x5f, 12},
};

namespace {

// Levels per run, in the order of the code lists above: {last, run, count}.
struct RunSpan {
    uint8_t last, run, count;
};
constexpr RunSpan kInterSpans[] = {
    {0, 0, 12}, {0, 1, 6}, {0, 2, 4}, {0, 3, 3}, {0, 4, 3}, {0, 5, 3}, {0, 6, 3}, {0, 7, 2},
    {0, 8, 2}, {0, 9, 2}, {0, 10, 2}, {0, 11, 1}, {0, 12, 1}, {0, 13, 1}, {0, 14, 1}, {0, 15, 1},
    {0, 16, 1}, {0, 17, 1}, {0, 18, 1}, {0, 19, 1}, {0, 20, 1}, {0, 21, 1}, {0, 22, 1}, {0, 23, 1},
    {0, 24, 1}, {0, 25, 1}, {0, 26, 1}, {1, 0, 3}, {1, 1, 2}, {1, 2, 1}, {1, 3, 1}, {1, 4, 1},
    {1, 5, 1}, {1, 6, 1}, {1, 7, 1}, {1, 8, 1}, {1, 9, 1}, {1, 10, 1}, {1, 11, 1}, {1, 12, 1},
    {1, 13, 1}, {1, 14, 1}, {1, 15, 1}, {1, 16, 1}, {1, 17, 1}, {1, 18, 1}, {1, 19, 1}, {1, 20, 1},
    {1, 21, 1}, {1, 22, 1}, {1, 23, 1}, {1, 24, 1}, {1, 25, 1}, {1, 26, 1}, {1, 27, 1}, {1, 28, 1},
    {1, 29, 1}, {1, 30, 1}, {1, 31, 1}, {1, 32, 1}, {1, 33, 1}, {1, 34, 1}, {1, 35, 1}, {1, 36, 1},
    {1, 37, 1}, {1, 38, 1}, {1, 39, 1}, {1, 40, 1},
};
constexpr RunSpan kIntraSpans[] = {
    {0, 0, 27}, {0, 1, 10}, {0, 2, 5}, {0, 3, 4}, {0, 4, 3}, {0, 5, 3}, {0, 6, 3}, {0, 7, 3},
    {0, 8, 2}, {0, 9, 2}, {0, 10, 1}, {0, 11, 1}, {0, 12, 1}, {0, 13, 1}, {0, 14, 1}, {1, 0, 8},
    {1, 1, 3}, {1, 2, 2}, {1, 3, 2}, {1, 4, 2}, {1, 5, 2}, {1, 6, 2}, {1, 7, 1}, {1, 8, 1},
    {1, 9, 1}, {1, 10, 1}, {1, 11, 1}, {1, 12, 1}, {1, 13, 1}, {1, 14, 1}, {1, 15, 1}, {1, 16, 1},
    {1, 17, 1}, {1, 18, 1}, {1, 19, 1}, {1, 20, 1},
};

template <size_t N>
constexpr std::array<RunLevel, kCoefCodes> expand(const RunSpan (&spans)[N])
{
    std::array<RunLevel, kCoefCodes> out{};
    int i = 0;
    for (const RunSpan& s : spans)
        for (int l = 1; l <= s.count; ++l)
            out[i++] = {s.last, s.run, static_cast<uint8_t>(l)};
    return out;
}


template <int Bits, size_t N>
constexpr std::array<VlcSlot, (1 << Bits)> lookup(const CodeValue (&codes)[N])
{
    std::array<VlcSlot, (1 << Bits)> out{};
    for (const CodeValue& c : codes) {
        int shift = Bits - c.code.len;
        int first = c.code.bits << shift;
        for (int i = 0; i < (1 << shift); ++i)
            out[first + i] = {c.value, c.code.len};
    }
    return out;
}

constexpr std::array<CoefSlot, (1 << kCoefBits)> coef_lookup(const Code (&codes)[kCoefCodes],
                                                             const std::array<RunLevel, kCoefCodes>& rl)
{
    std::array<CoefSlot, (1 << kCoefBits)> out{};
    for (int k = 0; k <= kCoefCodes; ++k) {
        Code c = k < kCoefCodes ? codes[k] : kCoefEscape;
        CoefSlot slot = k < kCoefCodes ? CoefSlot{c.len, rl[k].last, rl[k].run, rl[k].level}
                                       : CoefSlot{c.len, 2, 0, 0};
        int shift = kCoefBits - c.len;
        for (int i = 0; i < (1 << shift); ++i)
            out[(c.bits << shift) + i] = slot;
    }
    return out;
}

constexpr MaxTables max_tables(const std::array<RunLevel, kCoefCodes>& rl)
{
    MaxTables t{};
    for (const RunLevel& e : rl) {
        if (e.level > t.lmax[e.last][e.run])
            t.lmax[e.last][e.run] = e.level;
        if (e.run > t.rmax[e.last][e.level])
            t.rmax[e.last][e.level] = e.run;
    }
    return t;
}

} // namespace

constexpr CodeValue kMcbpcI[9] = {
    {{0x1, 1}, 0}, {{0x1, 3}, 1}, {{0x2, 3}, 2}, {{0x3, 3}, 3}, {{0x1, 4}, 4},
    {{0x1, 6}, 5}, {{0x2, 6}, 6}, {{0x3, 6}, 7}, {{0x1, 9}, kMcbpcStuffingI},
};

constexpr CodeValue kMcbpcP[21] = {
    {{0x1, 1}, 0},  {{0x3, 4}, 1},  {{0x2, 4}, 2},  {{0x5, 6}, 3},  {{0x3, 3}, 4},
    {{0x7, 7}, 5},  {{0x6, 7}, 6},  {{0x5, 9}, 7},  {{0x2, 3}, 8},  {{0x5, 7}, 9},
    {{0x4, 7}, 10}, {{0x5, 8}, 11}, {{0x3, 5}, 12}, {{0x4, 8}, 13}, {{0x3, 8}, 14},
    {{0x3, 7}, 15}, {{0x4, 6}, 16}, {{0x4, 9}, 17}, {{0x3, 9}, 18}, {{0x2, 9}, 19},
    {{0x1, 9}, kMcbpcStuffingP},
};

constexpr CodeValue kCbpy[16] = {
    {{0x3, 4}, 0},  {{0x5, 5}, 1},  {{0x4, 5}, 2},  {{0x9, 4}, 3},
    {{0x3, 5}, 4},  {{0x7, 4}, 5},  {{0x2, 6}, 6},  {{0xb, 4}, 7},
    {{0x2, 5}, 8},  {{0x3, 6}, 9},  {{0x5, 4}, 10}, {{0xa, 4}, 11},
    {{0x4, 4}, 12}, {{0x8, 4}, 13}, {{0x6, 4}, 14}, {{0x3, 2}, 15},
};

constexpr CodeValue kMvd[65] = {
    {{0x1, 1}, 0},
    {{0x2, 3}, 1},    {{0x3, 3}, -1},   {{0x2, 4}, 2},    {{0x3, 4}, -2},
    {{0x2, 5}, 3},    {{0x3, 5}, -3},   {{0x6, 7}, 4},    {{0x7, 7}, -4},
    {{0xa, 8}, 5},    {{0xb, 8}, -5},   {{0x8, 8}, 6},    {{0x9, 8}, -6},
    {{0x6, 8}, 7},    {{0x7, 8}, -7},   {{0x16, 10}, 8},  {{0x17, 10}, -8},
    {{0x14, 10}, 9},  {{0x15, 10}, -9}, {{0x12, 10}, 10}, {{0x13, 10}, -10},
    {{0x22, 11}, 11}, {{0x23, 11}, -11}, {{0x20, 11}, 12}, {{0x21, 11}, -12},
    {{0x1e, 11}, 13}, {{0x1f, 11}, -13}, {{0x1c, 11}, 14}, {{0x1d, 11}, -14},
    {{0x1a, 11}, 15}, {{0x1b, 11}, -15}, {{0x18, 11}, 16}, {{0x19, 11}, -16},
    {{0x16, 11}, 17}, {{0x17, 11}, -17}, {{0x14, 11}, 18}, {{0x15, 11}, -18},
    {{0x12, 11}, 19}, {{0x13, 11}, -19}, {{0x10, 11}, 20}, {{0x11, 11}, -20},
    {{0xe, 11}, 21},  {{0xf, 11}, -21},  {{0xc, 11}, 22},  {{0xd, 11}, -22},
    {{0xa, 11}, 23},  {{0xb, 11}, -23},  {{0x8, 11}, 24},  {{0x9, 11}, -24},
    {{0xe, 12}, 25},  {{0xf, 12}, -25},  {{0xc, 12}, 26},  {{0xd, 12}, -26},
    {{0xa, 12}, 27},  {{0xb, 12}, -27},  {{0x8, 12}, 28},  {{0x9, 12}, -28},
    {{0x6, 12}, 29},  {{0x7, 12}, -29},  {{0x4, 12}, 30},  {{0x5, 12}, -30},
    {{0x6, 13}, 31},  {{0x7, 13}, -31},  {{0x4, 13}, 32},  {{0x5, 13}, -32},
};

constexpr CodeValue kDcSizeLuma[13] = {
    {{0x3, 3}, 0}, {{0x3, 2}, 1}, {{0x2, 2}, 2}, {{0x2, 3}, 3}, {{0x1, 3}, 4},
    {{0x1, 4}, 5}, {{0x1, 5}, 6}, {{0x1, 6}, 7}, {{0x1, 7}, 8}, {{0x1, 8}, 9},
    {{0x1, 9}, 10}, {{0x1, 10}, 11}, {{0x1, 11}, 12},
};

constexpr CodeValue kDcSizeChroma[13] = {
    {{0x3, 2}, 0}, {{0x2, 2}, 1}, {{0x1, 2}, 2}, {{0x1, 3}, 3}, {{0x1, 4}, 4},
    {{0x1, 5}, 5}, {{0x1, 6}, 6}, {{0x1, 7}, 7}, {{0x1, 8}, 8}, {{0x1, 9}, 9},
    {{0x1, 10}, 10}, {{0x1, 11}, 11}, {{0x1, 12}, 12},
};

constexpr std::array<RunLevel, kCoefCodes> kInterRunLevel = expand(kInterSpans);
constexpr std::array<RunLevel, kCoefCodes> kIntraRunLevel = expand(kIntraSpans);
constexpr MaxTables kIntraMax = max_tables(kIntraRunLevel);
constexpr MaxTables kInterMax = max_tables(kInterRunLevel);

constexpr std::array<VlcSlot, (1 << kMcbpcBits)> kMcbpcILookup = lookup<kMcbpcBits>(kMcbpcI);
constexpr std::array<VlcSlot, (1 << kMcbpcBits)> kMcbpcPLookup = lookup<kMcbpcBits>(kMcbpcP);
constexpr std::array<VlcSlot, (1 << kCbpyBits)> kCbpyLookup = lookup<kCbpyBits>(kCbpy);
constexpr std::array<VlcSlot, (1 << kMvdBits)> kMvdLookup = lookup<kMvdBits>(kMvd);
constexpr std::array<VlcSlot, (1 << kDcLumaBits)> kDcLumaLookup = lookup<kDcLumaBits>(kDcSizeLuma);
constexpr std::array<VlcSlot, (1 << kDcChromaBits)> kDcChromaLookup =
    lookup<kDcChromaBits>(kDcSizeChroma);
constexpr std::array<CoefSlot, (1 << kCoefBits)> kIntraLookup = coef_lookup(kIntraCodes, kIntraRunLevel);
constexpr std::array<CoefSlot, (1 << kCoefBits)> kInterLookup = coef_lookup(kInterCodes, kInterRunLevel);

const uint8_t kZigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

const uint8_t kAltVertical[64] = {
    0,  8,  16, 24, 1,  9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49,
    41, 33, 26, 18, 3,  11, 4,  12, 19, 27, 34, 42, 50, 58, 35, 43,
    51, 59, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44, 52, 60, 37, 45,
    53, 61, 22, 30, 7,  15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63,
};

const uint8_t kAltHorizontal[64] = {
    0,  1,  2,  3,  8,  9,  16, 17, 10, 11, 4,  5,  6,  7,  15, 14,
    13, 12, 19, 18, 24, 25, 32, 33, 26, 27, 20, 21, 22, 23, 28, 29,
    30, 31, 34, 35, 40, 41, 48, 49, 42, 43, 36, 37, 38, 39, 44, 45,
    46, 47, 50, 51, 56, 57, 58, 59, 52, 53, 54, 55, 60, 61, 62, 63,
};

const uint8_t kDefaultIntraMatrix[64] = {
    8,  17, 18, 19, 21, 23, 25, 27, 17, 18, 19, 21, 23, 25, 27, 28,
    20, 21, 22, 23, 24, 26, 28, 30, 21, 22, 23, 24, 26, 28, 30, 32,
    22, 23, 24, 26, 28, 30, 32, 35, 23, 24, 26, 28, 30, 32, 35, 38,
    25, 26, 28, 30, 32, 35, 38, 41, 27, 28, 30, 32, 35, 38, 41, 45,
};

const uint8_t kDefaultNonIntraMatrix[64] = {
    16, 17, 18, 19, 20, 21, 22, 23, 17, 18, 19, 20, 21, 22, 23, 24,
    18, 19, 20, 21, 22, 23, 24, 25, 19, 20, 21, 22, 23, 24, 26, 27,
    20, 21, 22, 23, 25, 26, 27, 28, 21, 22, 23, 24, 26, 27, 28, 30,
    22, 23, 24, 26, 27, 28, 30, 31, 23, 24, 25, 27, 28, 30, 31, 33,
};

} // namespace mpeg4
