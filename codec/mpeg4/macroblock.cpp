// Macroblock layer, clause 6.2.7 / 7.4 / 7.6 of ISO/IEC 14496-2, for
// rectangular I- and P-pictures without video packets.
//
// Macroblocks are written straight into the current frame, whose decoded
// area is whole macroblocks: the part of a macroblock past the picture's
// right or bottom edge is kept, as the next picture predicts from it.
#include "codec/mpeg4/macroblock.h"

#include "codec/mpeg4/internal.h"
#include "codec/mpeg4/tables.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace mpeg4 {

namespace {

// Cap on stuffing codes before a macroblock; real streams use none or few.
constexpr int kMaxStuffing = 64;

template <int Bits>
inline int read_vlc(BitReader& br, const std::array<VlcSlot, (1 << Bits)>& lk)
{
    VlcSlot slot = lk[br.peek(Bits)];
    if (!slot.len)
        return -1;
    br.skip(slot.len);
    return slot.value;
}

inline int clamp12(int v) { return std::clamp(v, -2048, 2047); }

// Sixteen vector stores (the block is 16-byte aligned), where a library call or 64 scalar
// stores would otherwise be made.
inline void clear_block(int32_t* b)
{
    using Quad = int32_t __attribute__((vector_size(16)));
    Quad* q = reinterpret_cast<Quad*>(b);
    for (int i = 0; i < 16; ++i)
        q[i] = Quad{};
}

// Decodes (last, run, level) codes from scan position `pos`, handing each
// level to put(raster index, level). False on a code that matches nothing or
// a run past position 63.
template <typename Put>
inline bool read_coefficients(BitReader& br, const std::array<CoefSlot, (1 << kCoefBits)>& lk,
                              const MaxTables& mx, const uint8_t* scan, int pos, Put&& put)
{
    // The common codes (at most 12 bits and a sign) are read from a cached
    // window. A window holds at least 57 stream bits (up to 7 are lost to
    // the byte alignment of its load), so it is refilled before 57 - 13.
    size_t at = br.bit_pos();
    uint64_t cache = br.window();
    int taken = 0;
    for (;;) {
        if (taken > 57 - (kCoefBits + 1)) {
            br.seek_bit(at);
            cache = br.window();
            taken = 0;
        }
        uint64_t w = cache << taken;
        CoefSlot c = lk[w >> (64 - kCoefBits)];
        if (!c.len) {
            br.seek_bit(at);
            return false;
        }
        int last, run, level;
        if (c.last != 2) {
            last = c.last;
            run = c.run;
            const int sign = -static_cast<int>((w >> (63 - c.len)) & 1);
            level = (c.level ^ sign) - sign;
            taken += c.len + 1;
            at += static_cast<size_t>(c.len + 1);
        } else {
            br.seek_bit(at + c.len);
            if (!br.bit()) { // type 1: level offset
                c = lk[br.peek(kCoefBits)];
                if (!c.len || c.last == 2)
                    return false;
                br.skip(c.len);
                last = c.last;
                run = c.run;
                level = c.level + mx.lmax[last][run];
                if (br.bit())
                    level = -level;
            } else if (!br.bit()) { // type 2: run offset
                c = lk[br.peek(kCoefBits)];
                if (!c.len || c.last == 2)
                    return false;
                br.skip(c.len);
                last = c.last;
                run = c.run + mx.rmax[last][c.level] + 1;
                level = br.bit() ? -c.level : c.level;
            } else { // type 3: fixed length
                last = static_cast<int>(br.read(1));
                run = static_cast<int>(br.read(6));
                br.skip(1);
                level = static_cast<int>(br.read(12));
                br.skip(1);
                if (level & 0x800)
                    level -= 0x1000;
            }
            at = br.bit_pos();
            cache = br.window();
            taken = 0;
        }
        pos += run;
        if (pos > 63) {
            br.seek_bit(at);
            return false;
        }
        put(scan[pos], level);
        ++pos;
        if (last) {
            br.seek_bit(at);
            return true;
        }
    }
}

struct Ctx {
    Mpeg4State& s;
    BitReader& br;
    int w, h;    // luma decoded area, whole macroblocks
    int cw, ch;  // chroma decoded area
    uint8_t* cur[3];
    const uint8_t* ref[3];
    int stride[3];
};

// Destination of block b (0..5) of macroblock (mbx, mby) and its stride.
inline uint8_t* block_dst(Ctx& c, int mbx, int mby, int b, int* stride)
{
    if (b < 4) {
        *stride = c.stride[0];
        return c.cur[0] + static_cast<ptrdiff_t>(mby * 16 + (b >> 1) * 8) * c.stride[0] + mbx * 16 + (b & 1) * 8;
    }
    int p = b - 3;
    *stride = c.stride[p];
    return c.cur[p] + static_cast<ptrdiff_t>(mby * 8) * c.stride[p] + mbx * 8;
}

bool decode_intra_mb(Ctx& c, int mbx, int mby, MbInfo& mb, int cbp, bool ac_pred)
{
    Mpeg4State& s = c.s;
    BitReader& br = c.br;
    const int qp = mb.quant;
    const int cols = s.mb_cols;
    MbInfo* left = mbx > 0 ? &mb - 1 : nullptr;
    MbInfo* up = mby > 0 ? &mb - cols : nullptr;
    MbInfo* upleft = mbx > 0 && mby > 0 ? &mb - cols - 1 : nullptr;
    if (left && !left->intra)
        left = nullptr;
    if (up && !up->intra)
        up = nullptr;
    if (upleft && !upleft->intra)
        upleft = nullptr;

    for (int b = 0; b < 6; ++b) {
        const bool chroma = b >= 4;
        const int scaler = dc_scaler(qp, chroma);
        // Neighbour blocks: {macroblock, block} for left (A), upper-left (B), upper (C).
        const MbInfo* na;
        const MbInfo* nb;
        const MbInfo* nc;
        int ba, bb, bc;
        switch (b) {
        case 0: na = left, ba = 1, nb = upleft, bb = 3, nc = up, bc = 2; break;
        case 1: na = &mb, ba = 0, nb = up, bb = 2, nc = up, bc = 3; break;
        case 2: na = left, ba = 3, nb = left, bb = 1, nc = &mb, bc = 0; break;
        case 3: na = &mb, ba = 2, nb = &mb, bb = 0, nc = &mb, bc = 1; break;
        default: na = left, ba = b, nb = upleft, bb = b, nc = up, bc = b; break;
        }
        int fa = na ? na->pred[ba][0] : 1024;
        int fb = nb ? nb->pred[bb][0] : 1024;
        int fc = nc ? nc->pred[bc][0] : 1024;
        const bool from_up = std::abs(fa - fb) < std::abs(fc - fb);
        const MbInfo* pm = from_up ? nc : na;
        const int pb = from_up ? bc : ba;

        int32_t* blk = s.block;
        clear_block(blk);

        int size;
        if (chroma)
            size = read_vlc<kDcChromaBits>(br, kDcChromaLookup);
        else
            size = read_vlc<kDcLumaBits>(br, kDcLumaLookup);
        if (size < 0)
            return false;
        int diff = 0;
        if (size > 0) {
            int bits = static_cast<int>(br.read(size));
            diff = (bits >> (size - 1)) ? bits : bits - (1 << size) + 1;
            if (size > 8)
                br.skip(1);
        }

        const uint8_t* scan = !ac_pred ? kZigzag : from_up ? kAltHorizontal : kAltVertical;
        uint8_t coded[64]; // raster positions the codes wrote, each once
        int ncoded = 0;
        if (cbp & (32 >> b)) {
            if (!read_coefficients(br, kIntraLookup, kIntraMax, scan, 1, [&](int i, int level) {
                    blk[i] = level;
                    coded[ncoded++] = static_cast<uint8_t>(i);
                }))
                return false;
        }

        blk[0] = clamp12(diff + div_round(pm ? pm->pred[pb][0] : 1024, scaler));
        if (ac_pred && pm) {
            const int pq = pm->quant;
            if (from_up) {
                for (int i = 1; i < 8; ++i) {
                    int p = pm->pred[pb][i];
                    blk[i] = clamp12(blk[i] + (pq == qp ? p : div_round(p * pq, qp)));
                }
            } else {
                for (int i = 1; i < 8; ++i) {
                    int p = pm->pred[pb][7 + i];
                    blk[8 * i] = clamp12(blk[8 * i] + (pq == qp ? p : div_round(p * pq, qp)));
                }
            }
        }

        int32_t* store = mb.pred[b];
        store[0] = blk[0] * scaler;
        for (int i = 1; i < 8; ++i) {
            store[i] = blk[i];
            store[7 + i] = blk[8 * i];
        }

        // Dequantise the coded positions, then the predicted first row or column: every
        // non-zero position once, without walking all 63.
        const int axis = ac_pred && pm ? (from_up ? 1 : 8) : 0; // step along the predicted edge
        auto on_axis = [axis](int i) { return axis == 1 ? i < 8 : axis == 8 && (i & 7) == 0; };
        blk[0] *= scaler;
        if (s.quant_type) {
            const uint8_t* m = s.intra_matrix;
            int sum = blk[0];
            bool any = blk[0] != 0;
            auto deq = [&](int i) {
                if (blk[i]) {
                    blk[i] = clamp12(blk[i] * m[i] * qp / 8);
                    sum += blk[i];
                    any = true;
                }
            };
            for (int k = 0; k < ncoded; ++k)
                if (!on_axis(coded[k]))
                    deq(coded[k]);
            for (int k = 1; axis && k < 8; ++k)
                deq(k * axis);
            if (any && !(sum & 1))
                blk[63] ^= 1;
        } else {
            const int odd = (qp & 1) ? 0 : 1;
            auto deq = [&](int i) {
                const int l = blk[i];
                const int sign = l >> 31;
                const int a = qp * (2 * ((l ^ sign) - sign) + 1) - odd;
                blk[i] = l ? (a ^ sign) - sign : 0;
            };
            for (int k = 0; k < ncoded; ++k)
                if (!on_axis(coded[k]))
                    deq(coded[k]);
            for (int k = 1; axis && k < 8; ++k)
                deq(k * axis);
        }
        s.idct(blk, 0xFF);
        int stride;
        uint8_t* dst = block_dst(c, mbx, mby, b, &stride);
        s.dsp->put_block(blk, dst, stride);
    }
    return true;
}

bool decode_inter_residual(Ctx& c, int mbx, int mby, int qp, int cbp)
{
    Mpeg4State& s = c.s;
    for (int b = 0; b < 6; ++b) {
        if (!(cbp & (32 >> b)))
            continue;
        int32_t* blk = s.block;
        clear_block(blk);
        bool ok;
        if (s.quant_type) {
            const uint8_t* m = s.inter_matrix;
            int sum = 0;
            bool any = false;
            ok = read_coefficients(c.br, kInterLookup, kInterMax, kZigzag, 0, [&](int i, int l) {
                if (!l)
                    return;
                int v = clamp12((2 * l + (l > 0 ? 1 : -1)) * m[i] * qp / 16);
                blk[i] = v;
                sum += v;
                any = true;
            });
            if (any && !(sum & 1)) // mismatch control
                blk[63] ^= 1;
        } else {
            const int odd = (qp & 1) ? 0 : 1;
            ok = read_coefficients(c.br, kInterLookup, kInterMax, kZigzag, 0, [&](int i, int l) {
                // Sign applied without a branch: it is as random as the data.
                const int sign = l >> 31;
                const int a = qp * (2 * ((l ^ sign) - sign) + 1) - odd;
                blk[i] = l ? (a ^ sign) - sign : 0;
            });
        }
        if (!ok)
            return false;
        // The vector transforms take every row alike; the plain one still skips zero rows.
        s.idct(blk, 0xFF);
        int stride;
        uint8_t* dst = block_dst(c, mbx, mby, b, &stride);
        s.dsp->add_block(blk, dst, stride);
    }
    return true;
}

void copy_mb_from_ref(Ctx& c, int mbx, int mby)
{
    const McKernels& k = *c.s.mc;
    for (int p = 0; p < 3; ++p) {
        const int n = p ? 8 : 16;
        const size_t off = static_cast<size_t>(mby * n) * c.stride[p] + mbx * n;
        k.put[p ? 1 : 0][0](c.cur[p] + off, c.stride[p], c.ref[p] + off, c.stride[p], 0);
    }
}

void predict_inter_mb(Ctx& c, int mbx, int mby, const Mv* v, bool four)
{
    Mpeg4State& s = c.s;
    const McKernels& k = *s.mc;
    const int r = s.vop.rounding;
    int cx, cy;
    if (!four) {
        predict_block(k, c.cur[0] + static_cast<ptrdiff_t>(mby * 16) * c.stride[0] + mbx * 16, c.stride[0], c.ref[0],
                      c.stride[0], c.w, c.h, kLumaBorder, mbx * 32 + v[0].x, mby * 32 + v[0].y, 16, r);
        cx = chroma_from_one(v[0].x);
        cy = chroma_from_one(v[0].y);
    } else {
        int sx = 0, sy = 0;
        for (int b = 0; b < 4; ++b) {
            int ox = mbx * 16 + (b & 1) * 8, oy = mby * 16 + (b >> 1) * 8;
            predict_block(k, c.cur[0] + static_cast<ptrdiff_t>(oy) * c.stride[0] + ox, c.stride[0], c.ref[0],
                          c.stride[0], c.w, c.h, kLumaBorder, 2 * ox + v[b].x, 2 * oy + v[b].y, 8, r);
            sx += v[b].x;
            sy += v[b].y;
        }
        cx = chroma_from_four(sx);
        cy = chroma_from_four(sy);
    }
    for (int p = 1; p < 3; ++p)
        predict_block(k, c.cur[p] + static_cast<ptrdiff_t>(mby * 8) * c.stride[p] + mbx * 8, c.stride[p], c.ref[p],
                      c.stride[p], c.cw, c.ch, kChromaBorder, mbx * 16 + cx, mby * 16 + cy, 8, r);
}

inline int apply_dquant(int q, int code)
{
    static constexpr int kDquant[4] = {-1, -2, 1, 2};
    return std::clamp(q + kDquant[code], 1, 31);
}

} // namespace

int dc_scaler(int qp, bool chroma)
{
    if (qp <= 4)
        return 8;
    if (chroma)
        return qp <= 24 ? (qp + 13) / 2 : qp - 6;
    if (qp <= 8)
        return 2 * qp;
    return qp <= 24 ? qp + 8 : 2 * qp - 16;
}

bool decode_macroblocks(Mpeg4State& s)
{
    Ctx c{s, s.br, 0, 0, 0, 0, {}, {}, {}};
    for (int p = 0; p < 3; ++p) {
        c.cur[p] = s.cur.plane[p];
        c.ref[p] = s.ref.plane[p];
        c.stride[p] = s.stride[p];
    }
    c.w = s.coded_w;
    c.h = s.coded_h;
    c.cw = s.coded_w / 2;
    c.ch = s.coded_h / 2;

    BitReader& br = s.br;
    const bool is_p = s.vop.coding_type == kVopP;
    int quant = s.vop.quant;
    const int cols = s.mb_cols;
    for (int mby = 0; mby < s.mb_rows; ++mby) {
        for (int mbx = 0; mbx < cols; ++mbx) {
            MbInfo& mb = s.mbs[mby * cols + mbx];
            Mv* mv = s.mvs + (static_cast<size_t>(mby) * cols + mbx) * 4;
            int mcbpc = 0;
            bool not_coded = false;
            for (int n = 0;; ++n) {
                if (n > kMaxStuffing)
                    return false;
                if (is_p && br.bit()) {
                    not_coded = true;
                    break;
                }
                if (is_p)
                    mcbpc = read_vlc<kMcbpcBits>(br, kMcbpcPLookup);
                else
                    mcbpc = read_vlc<kMcbpcBits>(br, kMcbpcILookup);
                if (mcbpc < 0)
                    return false;
                if (mcbpc != (is_p ? kMcbpcStuffingP : kMcbpcStuffingI))
                    break;
            }
            uint8_t& same = s.same[mby * cols + mbx];
            if (not_coded) {
                mb.intra = 0;
                mb.quant = static_cast<uint8_t>(quant);
                for (int b = 0; b < 4; ++b)
                    mv[b] = {0, 0};
                if (!same)
                    copy_mb_from_ref(c, mbx, mby);
                // Once the planes swap, the picture just made and the one before agree here.
                same = 1;
                continue;
            }
            same = 0; // before anything is written, should the picture be refused
            // I: 0..3 intra, 4..7 intra+q. P: type = mcbpc / 4.
            int type = is_p ? mcbpc >> 2 : (mcbpc >> 2) + 3;
            int cbpc = mcbpc & 3;
            bool intra = type >= 3;
            bool ac_pred = intra && br.bit();
            int cbpy = read_vlc<kCbpyBits>(br, kCbpyLookup);
            if (cbpy < 0)
                return false;
            if (!intra)
                cbpy = 15 - cbpy;
            if (type == 1 || type == 4)
                quant = apply_dquant(quant, static_cast<int>(br.read(2)));
            mb.quant = static_cast<uint8_t>(quant);
            int cbp = (cbpy << 2) | cbpc;
            if (intra) {
                mb.intra = 1;
                for (int b = 0; b < 4; ++b)
                    mv[b] = {0, 0};
                if (!decode_intra_mb(c, mbx, mby, mb, cbp, ac_pred))
                    return false;
            } else {
                mb.intra = 0;
                const bool four = type == 2;
                for (int b = 0; b < (four ? 4 : 1); ++b) {
                    Mv pred = predict_mv(s.mvs, cols, mbx, mby, b);
                    int x, y;
                    if (!decode_mv_component(br, s.vop.fcode, pred.x, &x) ||
                        !decode_mv_component(br, s.vop.fcode, pred.y, &y))
                        return false;
                    mv[b] = {static_cast<int16_t>(x), static_cast<int16_t>(y)};
                }
                if (!four)
                    mv[1] = mv[2] = mv[3] = mv[0];
                predict_inter_mb(c, mbx, mby, mv, four);
                if (!decode_inter_residual(c, mbx, mby, quant, cbp))
                    return false;
            }
            if (br.overrun())
                return false;
        }
    }
    return !br.overrun();
}

} // namespace mpeg4
