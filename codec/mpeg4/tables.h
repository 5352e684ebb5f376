// Code tables of ISO/IEC 14496-2 Annex B and the scans and matrices of
// clause 7.4, as data, plus the direct-lookup forms the decoder reads with.
#pragma once

#include <array>
#include <cstdint>

namespace mpeg4 {

struct Code {
    uint16_t bits; // right-aligned code word
    uint8_t len;
};

struct RunLevel {
    uint8_t last, run, level;
};

// One slot of a lookup indexed by the next `kBits` stream bits. len 0 = no code.
struct VlcSlot {
    int8_t value;
    uint8_t len;
};

struct CoefSlot {
    uint8_t len;   // code length without the sign bit; 0 = no code
    uint8_t last;  // 2 = escape
    uint8_t run;
    uint8_t level;
};

constexpr int kCoefCodes = 102;           // plus escape
constexpr Code kCoefEscape = {0x3, 7};    // 0000 011
extern const Code kInterCodes[kCoefCodes];       // Table B-17, in (last, run, level) order below
extern const std::array<RunLevel, kCoefCodes> kInterRunLevel;
extern const Code kIntraCodes[kCoefCodes];       // Table B-16
extern const std::array<RunLevel, kCoefCodes> kIntraRunLevel;

// Small tables: code words with their decoded values.
struct CodeValue {
    Code code;
    int8_t value;
};
extern const CodeValue kMcbpcI[9];      // Table B-6; value 8 = stuffing
extern const CodeValue kMcbpcP[21];     // Table B-7; value 20 = stuffing
extern const CodeValue kCbpy[16];       // Table B-8, intra meaning
extern const CodeValue kMvd[65];        // Table B-12, motion codes -32..32, sign included
extern const CodeValue kDcSizeLuma[13]; // Table B-13
extern const CodeValue kDcSizeChroma[13]; // Table B-14

constexpr int kMcbpcStuffingI = 8;
constexpr int kMcbpcStuffingP = 20;

// Lookups. Index with peek(kXBits).
constexpr int kMcbpcBits = 9, kCbpyBits = 6, kMvdBits = 13, kDcLumaBits = 11, kDcChromaBits = 12,
              kCoefBits = 12;
extern const std::array<VlcSlot, (1 << kMcbpcBits)> kMcbpcILookup;
extern const std::array<VlcSlot, (1 << kMcbpcBits)> kMcbpcPLookup;
extern const std::array<VlcSlot, (1 << kCbpyBits)> kCbpyLookup;
extern const std::array<VlcSlot, (1 << kMvdBits)> kMvdLookup;
extern const std::array<VlcSlot, (1 << kDcLumaBits)> kDcLumaLookup;
extern const std::array<VlcSlot, (1 << kDcChromaBits)> kDcChromaLookup;
extern const std::array<CoefSlot, (1 << kCoefBits)> kIntraLookup;
extern const std::array<CoefSlot, (1 << kCoefBits)> kInterLookup;

// LMAX and RMAX of clause 7.4.1.3, derived from the code tables: [last][run]
// and [last][level]; 0 where no code exists.
struct MaxTables {
    uint8_t lmax[2][64];
    uint8_t rmax[2][64];
};
extern const MaxTables kIntraMax;
extern const MaxTables kInterMax;

extern const uint8_t kZigzag[64];
extern const uint8_t kAltVertical[64];
extern const uint8_t kAltHorizontal[64];
extern const uint8_t kDefaultIntraMatrix[64];    // raster order
extern const uint8_t kDefaultNonIntraMatrix[64];

} // namespace mpeg4
