#include "codec/audio/g726_adpcm.h"

#include <bit>

namespace g726 {
namespace {

// Bits needed for `mag`: 0 for 0, else 1 + floor(log2(mag)).
inline unsigned BitLength(unsigned mag)
{
    return unsigned(std::bit_width(mag));
}

// Magnitude to the 11-bit floating format (FLOATA, FLOATB).
inline uint16_t ToFloat(unsigned sign, unsigned mag)
{
    const unsigned exp = BitLength(mag);
    const unsigned mant = mag == 0 ? 32 : (mag << 6) >> exp;
    return static_cast<uint16_t>((sign << 10) + (exp << 6) + mant);
}

// FMULT: coefficient (16-bit TC) times a floating-format signal, as 16-bit TC in half units.
inline unsigned FloatMultiply(unsigned an, unsigned srn)
{
    const unsigned ans = an >> 15;
    const unsigned anmag = ans == 0 ? an >> 2 : (16384 - (an >> 2)) & 8191;
    const unsigned anexp = BitLength(anmag);
    const unsigned anmant = anmag == 0 ? 32 : (anmag << 6) >> anexp;
    const unsigned srs = srn >> 10;
    const unsigned srexp = (srn >> 6) & 15;
    const unsigned srmant = srn & 63;
    const unsigned ws = srs ^ ans;
    const int wexp = int(srexp + anexp);
    const unsigned wmant = (srmant * anmant + 48) >> 4;
    // (wmant << 7) >> (26 - wexp) in the Recommendation, without its 32-bit intermediate.
    const unsigned wmag = wexp >= 19 ? (wmant << (wexp - 19)) & 32767 : wmant >> (19 - wexp);
    return ws == 0 ? wmag : (65536 - wmag) & 65535;
}

// Leak of a 16-bit TC coefficient by 2^-shift: -(x >> shift), arithmetic, as 16-bit TC.
inline unsigned Leak(unsigned x, unsigned shift)
{
    const unsigned signExt = (0xFFFFu << (16 - shift)) & 0xFFFFu;
    const unsigned shifted = (x >> 15) ? (x >> shift) + signExt : x >> shift;
    return (65536 - shifted) & 65535;
}

} // namespace

int DecodeCode(AdpcmState& s, const RateTables& rate, unsigned code)
{
    const unsigned bits = unsigned(rate.bits);
    const unsigned is = (code >> (bits - 1)) & 1;
    const unsigned im = (is ? ~code : code) & ((1u << (bits - 1)) - 1);

    // Signal estimate (4.2.6 FMULT, ACCUM): zero part, then with the poles.
    unsigned sezi = 0;
    for (int n = 0; n < 6; ++n)
        sezi = (sezi + FloatMultiply(s.b[n], s.dq[n])) & 65535;
    unsigned sei = sezi;
    for (int n = 0; n < 2; ++n)
        sei = (sei + FloatMultiply(s.a[n], s.sr[n])) & 65535;
    const unsigned sez = sezi >> 1; // 15-bit TC
    const unsigned se = sei >> 1;

    // Scale factor with speed control (4.2.4 LIMA, MIX).
    const unsigned al = s.ap >= 256 ? 64 : s.ap >> 2;
    const unsigned ylShort = s.yl >> 6;
    const unsigned mixDif = (s.yu + 16384 - ylShort) & 16383;
    const unsigned mixDifs = mixDif >> 13;
    const unsigned mixDifm = mixDifs ? (16384 - mixDif) & 8191 : mixDif;
    const unsigned prodm = (mixDifm * al) >> 6;
    const unsigned prod = mixDifs ? (16384 - prodm) & 16383 : prodm;
    const unsigned y = (ylShort + prod) & 8191;

    // Inverse quantiser (4.2.3 RECONST, ADDA, ANTILOG); dq is sign-magnitude.
    const unsigned dql = unsigned(rate.dqln[im] + int(y >> 2)) & 4095;
    const unsigned ds = dql >> 11;
    const unsigned dex = (dql >> 7) & 15;
    const unsigned dqt = 128 + (dql & 127);
    const unsigned dqmag = ds ? 0 : (dqt << 7) >> (14 - dex);

    // Reconstructed signal and partial signal (4.2.6 ADDB, ADDC).
    const unsigned dqi = is ? (65536 - dqmag) & 65535 : dqmag;
    const unsigned sei16 = (se >> 14) ? se + 32768 : se;
    const unsigned sr = (dqi + sei16) & 65535;
    const unsigned sez16 = (sez >> 14) ? sez + 32768 : sez;
    const unsigned dqsez = (dqi + sez16) & 65535;
    const unsigned pk0 = dqsez >> 15;
    const unsigned sigpk = dqsez == 0 ? 1 : 0;

    // Tone and transition detection (4.2.8 TRANS) with the previous state.
    const unsigned ylint = s.yl >> 15;
    const unsigned ylfrac = (s.yl >> 10) & 31;
    const unsigned thr1 = (32 + ylfrac) << ylint;
    const unsigned thr2 = ylint > 9 ? 31u << 10 : thr1;
    const unsigned dqthr = (thr2 + (thr2 >> 1)) >> 1;
    const unsigned tr = (dqmag > dqthr && s.td == 1) ? 1 : 0;

    // Quantiser scale factor adaptation (4.2.4 FUNCTW, FILTD, LIMB, FILTE).
    const unsigned wi = unsigned(rate.wi[im]) & 4095;
    const unsigned dDif = ((wi << 5) + 131072 - y) & 131071;
    const unsigned dDifsx = (dDif >> 16) ? (dDif >> 5) + 4096 : dDif >> 5;
    const unsigned yut = (y + dDifsx) & 8191;
    const unsigned gell = ((yut + 15840) & 16383) >> 13;
    const unsigned geul = ((yut + 11264) & 16383) >> 13;
    const unsigned yup = gell == 1 ? 544 : geul == 0 ? 5120 : yut;
    const unsigned eDif = (yup + ((1048576 - s.yl) >> 6)) & 16383;
    const unsigned eDifsx = (eDif >> 13) ? eDif + 507904 : eDif;
    const unsigned ylp = (s.yl + eDifsx) & 524287;

    // Pole predictor update (4.2.7 UPA2, LIMC, UPA1, LIMD).
    const unsigned a1 = s.a[0];
    const unsigned a2 = s.a[1];
    const unsigned pks1 = pk0 ^ s.pk[0];
    const unsigned pks2 = pk0 ^ s.pk[1];
    const unsigned uga2a = pks2 ? 114688 : 16384;
    const unsigned fa1 = (a1 >> 15) == 0 ? (a1 <= 8191 ? a1 << 2 : 8191u << 2)
                                         : (a1 >= 57345 ? (a1 << 2) & 131071 : 24577u << 2);
    const unsigned fa = pks1 ? fa1 : (131072 - fa1) & 131071;
    const unsigned uga2b = (uga2a + fa) & 131071;
    const unsigned uga2 = sigpk ? 0 : (uga2b >> 16) == 0 ? uga2b >> 7 : (uga2b >> 7) + 64512;
    const unsigned a2t = (a2 + ((uga2 + Leak(a2, 7)) & 65535)) & 65535;
    const unsigned a2p = (a2t >= 32768 && a2t <= 53248)   ? 53248
                         : (a2t >= 12288 && a2t <= 32767) ? 12288
                                                          : a2t;
    const unsigned uga1 = sigpk ? 0 : pks1 == 0 ? 192 : 65344;
    const unsigned a1t = (a1 + ((uga1 + Leak(a1, 8)) & 65535)) & 65535;
    const unsigned a1ul = (15360 + 65536 - a2p) & 65535;
    const unsigned a1ll = (a2p + 65536 - 15360) & 65535;
    const unsigned a1p = (a1t >= 32768 && a1t <= a1ll)   ? a1ll
                         : (a1t >= a1ul && a1t <= 32767) ? a1ul
                                                         : a1t;

    // Tone detection on the new a2 (4.2.8 TONE).
    const unsigned tdp = (a2p >= 32768 && a2p < 53760) ? 1 : 0;

    // Adaptation speed control (4.2.5 FUNCTF, FILTA, FILTB, SUBTC, FILTC, TRIGB).
    const unsigned fi = rate.fi[im];
    const unsigned aDif = ((fi << 9) + 8192 - s.dms) & 8191;
    const unsigned aDifsx = (aDif >> 12) ? (aDif >> 5) + 3840 : aDif >> 5;
    const unsigned dmsp = (aDifsx + s.dms) & 4095;
    const unsigned bDif = ((fi << 11) + 32768 - s.dml) & 32767;
    const unsigned bDifsx = (bDif >> 14) ? (bDif >> 7) + 16128 : bDif >> 7;
    const unsigned dmlp = (bDifsx + s.dml) & 16383;
    const unsigned cDif = ((dmsp << 2) + 32768 - dmlp) & 32767;
    const unsigned cDifm = (cDif >> 14) ? (32768 - cDif) & 16383 : cDif;
    const unsigned ax = (y >= 1536 && cDifm < (dmlp >> 3) && tdp == 0) ? 0 : 1;
    const unsigned fDif = ((ax << 9) + 2048 - s.ap) & 2047;
    const unsigned fDifsx = (fDif >> 10) ? (fDif >> 4) + 896 : fDif >> 4;
    const unsigned app = (fDifsx + s.ap) & 1023;

    // Zero predictor update (4.2.7 UPB, XOR); the leak is 2^-9 at 40 kbit/s, else 2^-8.
    const unsigned leakShift = bits == 5 ? 9 : 8;
    for (int n = 0; n < 6; ++n) {
        const unsigned ugb = dqmag == 0 ? 0 : ((is ^ (s.dq[n] >> 10)) ? 65408 : 128);
        const unsigned bp = (s.b[n] + ((ugb + Leak(s.b[n], leakShift)) & 65535)) & 65535;
        s.b[n] = static_cast<uint16_t>(tr ? 0 : bp);
    }

    // Delays (4.2.9 DELAY, TRIGB).
    for (int n = 5; n > 0; --n)
        s.dq[n] = s.dq[n - 1];
    s.dq[0] = ToFloat(is, dqmag);
    s.sr[1] = s.sr[0];
    const unsigned srs = sr >> 15;
    s.sr[0] = ToFloat(srs, srs ? (65536 - sr) & 32767 : sr);
    s.pk[1] = s.pk[0];
    s.pk[0] = static_cast<uint16_t>(pk0);
    s.a[0] = static_cast<uint16_t>(tr ? 0 : a1p);
    s.a[1] = static_cast<uint16_t>(tr ? 0 : a2p);
    s.td = static_cast<uint16_t>(tr ? 0 : tdp);
    s.ap = static_cast<uint16_t>(tr ? 256 : app);
    s.yu = static_cast<uint16_t>(yup);
    s.yl = ylp;
    s.dms = static_cast<uint16_t>(dmsp);
    s.dml = static_cast<uint16_t>(dmlp);

    return srs ? int(sr) - 65536 : int(sr);
}

} // namespace g726
