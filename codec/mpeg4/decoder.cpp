// The exported interface: buffers, the call sequence of one picture, border
// replication and the two output layouts. No exception leaves this file.
#include "codec/mpeg4/decoder.h"

#include "codec/mpeg4/headers.h"
#include "codec/mpeg4/internal.h"
#include "codec/mpeg4/macroblock.h"
#include "codec/mpeg4/postfilter.h"
#include "codec/mpeg4/tables.h"
#include "codec/mpeg4/upscale.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

using namespace mpeg4;

namespace {

constexpr int kErrorUsed = 4;

size_t luma_alloc(int w, int h) { return static_cast<size_t>(w + 2 * kLumaBorder) * (h + 2 * kLumaBorder); }
size_t chroma_alloc(int w, int h) { return static_cast<size_t>(w / 2 + 2 * kChromaBorder) * (h / 2 + 2 * kChromaBorder); }

// For the decoded area of any stream up to w x h: whole macroblocks.
bool alloc_frame(Frame& f, int w, int h)
{
    w = (w + 15) & ~15;
    h = (h + 15) & ~15;
    size_t sizes[3] = {luma_alloc(w, h), chroma_alloc(w, h), chroma_alloc(w, h)};
    for (int p = 0; p < 3; ++p) {
        // Not cleared: nothing reads a plane before a decoded picture is in it, and clearing
        // megabytes would cost a new decoder more than a picture does.
        f.alloc[p] = static_cast<uint8_t*>(std::malloc(sizes[p]));
        if (!f.alloc[p])
            return false;
    }
    return true;
}

void free_frame(Frame& f)
{
    for (uint8_t*& a : f.alloc) {
        std::free(a);
        a = nullptr;
    }
}

void destroy_state(Mpeg4State* s)
{
    if (!s)
        return;
    free_frame(s->ref);
    free_frame(s->cur);
    std::free(s->mbs);
    std::free(s->mvs);
    std::free(s->same);
    std::free(s->work);
    delete s;
}

// Strides and plane origins follow the stream size; the allocations are for
// the creation size, which bounds it.
void setup_geometry(Mpeg4State& s, const DECODER& d)
{
    s.pic_w = d.width;
    s.pic_h = d.height;
    s.mb_cols = (d.width + 15) / 16;
    s.mb_rows = (d.height + 15) / 16;
    s.coded_w = 16 * s.mb_cols;
    s.coded_h = 16 * s.mb_rows;
    s.stride[0] = s.coded_w + 2 * kLumaBorder;
    s.stride[1] = s.stride[2] = s.coded_w / 2 + 2 * kChromaBorder;
    for (Frame* f : {&s.ref, &s.cur})
        for (int p = 0; p < 3; ++p)
            f->plane[p] = f->alloc[p] + plane_offset(p, s.stride[p]);
    s.time_inc_bits = time_increment_bits(s.time_inc_resolution);
    if (!s.intra_matrix) {
        s.intra_matrix = kDefaultIntraMatrix;
        s.inter_matrix = kDefaultNonIntraMatrix;
    }
    std::memset(s.mbs, 0, sizeof(MbInfo) * s.mb_cols * s.mb_rows);
    std::memset(s.mvs, 0, sizeof(Mv) * 4 * s.mb_cols * s.mb_rows);
    std::memset(s.same, 0, static_cast<size_t>(s.mb_cols) * s.mb_rows);
    s.have_ref = false;
}

// The border depth is a constant so that the row fills are inline stores, not library calls.
template <int border>
void replicate_borders(uint8_t* origin, int stride, int w, int h)
{
    for (int y = 0; y < h; ++y) {
        uint8_t* row = origin + static_cast<ptrdiff_t>(y) * stride;
        std::memset(row - border, row[0], border);
        std::memset(row + w, row[w - 1], border);
    }
    const uint8_t* top = origin - border;
    const uint8_t* bottom = origin + static_cast<ptrdiff_t>(h - 1) * stride - border;
    for (int y = 1; y <= border; ++y) {
        std::memcpy(origin - border - static_cast<ptrdiff_t>(y) * stride, top, w + 2 * border);
        std::memcpy(origin - border + static_cast<ptrdiff_t>(h - 1 + y) * stride, bottom, w + 2 * border);
    }
}

void write_output(Mpeg4State& s, const DECODER& d, unsigned char* out)
{
    const int w = d.width, h = d.height;
    const int cw = w / 2, ch = h / 2;
    const Frame& f = s.ref;
    if (!d.upscaled) {
        unsigned char* o = out;
        for (int y = 0; y < h; ++y, o += w)
            std::memcpy(o, f.plane[0] + static_cast<ptrdiff_t>(y) * s.stride[0], w);
        for (int p = 1; p < 3; ++p)
            for (int y = 0; y < ch; ++y, o += cw)
                std::memcpy(o, f.plane[p] + static_cast<ptrdiff_t>(y) * s.stride[p], cw);
        return;
    }
    const size_t luma = 4 * static_cast<size_t>(w) * h;
    double_plane(f.plane[0], s.stride[0], w, h, 16, s.work);
    std::memcpy(out, s.work, luma);
    const size_t chroma = 4 * static_cast<size_t>(cw) * ch;
    for (int p = 1; p < 3; ++p) {
        double_plane(f.plane[p], s.stride[p], cw, ch, 8, s.work);
        std::memcpy(out + luma + (p - 1) * chroma, s.work, chroma);
    }
}

// The picture as it lies in the reference planes, or in `out` when doubled (written there).
void view_output(Mpeg4State& s, const DECODER& d, unsigned char* out, DECODER_VIEW* view)
{
    const int w = d.width, h = d.height;
    if (!d.upscaled) {
        for (int p = 0; p < 3; ++p) {
            view->plane[p] = s.ref.plane[p];
            view->stride[p] = s.stride[p];
        }
        view->width = w;
        view->height = h;
        return;
    }
    write_output(s, d, out);
    const size_t luma = 4 * static_cast<size_t>(w) * h;
    view->plane[0] = out;
    view->plane[1] = out + luma;
    view->plane[2] = out + luma + luma / 4;
    view->stride[0] = 2 * w;
    view->stride[1] = view->stride[2] = w;
    view->width = 2 * w;
    view->height = 2 * h;
}

int fail(int* used)
{
    if (used)
        *used = kErrorUsed;
    return 1;
}

int refuse(Mpeg4State& s, int* used, const char* why)
{
    s.refusal = why;
    return fail(used);
}

int decode(DECODER* d, unsigned char* out, const unsigned char* data, size_t size, int* used,
           DECODER_VIEW* view = nullptr)
{
    if (used)
        *used = 0;
    if (!d || !d->state || !out || !data || !used)
        return fail(used);
    Mpeg4State& s = *d->state;
    s.refusal = "picture data does not decode";
    // `used` is an int; nothing real comes near this.
    if (size > static_cast<size_t>(INT_MAX))
        size = static_cast<size_t>(INT_MAX);
    s.br.reset(data, size);

    if (d->first_call) {
        if (!parse_config_headers(s, *d))
            return fail(used);
        setup_geometry(s, *d);
        if (s.profile == Profile::Motion)
            d->postfilter_on = 1;
    }
    if (!parse_vop_header(s))
        return fail(used);

    const bool decodable = s.vop.coded && (s.vop.coding_type == kVopI || s.vop.coding_type == kVopP);
    // Anything but an I-picture builds on the reference; without one it
    // would show whatever the planes held, as if it were a picture.
    if (!s.have_ref && !(decodable && s.vop.coding_type == kVopI))
        return refuse(s, used, "no decoded picture to predict from");
    if (decodable) {
        s.error = !decode_macroblocks(s);
        if (s.error)
            return fail(used);
    }
    // The stuffing closing a picture is at least one bit: drop the rest of
    // the byte, or a whole byte when already aligned.
    size_t consumed = s.br.bit_pos() / 8 + 1;
    if (consumed > size)
        consumed = size;
    *used = static_cast<int>(consumed);

    if (decodable) {
        if (d->postfilter_on) {
            int qp = s.profile == Profile::Viewer ? viewer_filter_strength(s.vop.coding_type, s.vop.quant)
                                                  : s.vop.quant;
            s.vop.quant = qp;
            deblock_luma(s.cur.plane[0], s.stride[0], s.pic_w, s.pic_h, qp, s.dsp);
            // Filtered samples cross macroblocks, not-coded ones too.
            std::memset(s.same, 0, static_cast<size_t>(s.mb_cols) * s.mb_rows);
        }
        replicate_borders<kLumaBorder>(s.cur.plane[0], s.stride[0], s.coded_w, s.coded_h);
        for (int p = 1; p < 3; ++p)
            replicate_borders<kChromaBorder>(s.cur.plane[p], s.stride[p], s.coded_w / 2, s.coded_h / 2);
        std::swap(s.ref, s.cur);
        s.have_ref = true;
    }
    // Otherwise (vop_coded 0, B or sprite pictures) the previous picture is repeated.
    d->first_call = 0;
    s.refusal = nullptr;
    if (view)
        view_output(s, *d, out, view);
    else
        write_output(s, *d, out);
    return 0;
}

} // namespace

extern "C" {

DECODER* decoder_create_profile(int profile)
{
    const bool viewer = profile == DECODER_PROFILE_VIEWER;
    return decoder_create_sized(profile, viewer ? 1024 : 640, viewer ? 768 : 480);
}

DECODER* decoder_create_sized(int profile, int width, int height)
{
    if (profile != DECODER_PROFILE_VIEWER && profile != DECODER_PROFILE_MOTION)
        return nullptr;
    if (width < 1 || height < 1 || width > 4096 || height > 4096)
        return nullptr;
    DECODER* d = static_cast<DECODER*>(std::calloc(1, sizeof(DECODER)));
    if (!d)
        return nullptr;
    Mpeg4State* s = new (std::nothrow) Mpeg4State;
    if (!s) {
        std::free(d);
        return nullptr;
    }
    d->state = s;
    const bool viewer = profile == DECODER_PROFILE_VIEWER;
    s->profile = viewer ? Profile::Viewer : Profile::Motion;
    s->create_w = width;
    s->create_h = height;
    s->dsp = &DspBest();
    s->idct = s->dsp->idct[viewer ? 0 : 1];
    s->mc = &s->dsp->mc;
    const int w = s->create_w, h = s->create_h;
    const size_t mbs = static_cast<size_t>((w + 15) / 16) * ((h + 15) / 16);
    // The geometry of the first call clears the part of these a stream uses.
    s->mbs = static_cast<MbInfo*>(std::malloc(mbs * sizeof(MbInfo)));
    s->mvs = static_cast<Mv*>(std::malloc(mbs * 4 * sizeof(Mv)));
    s->same = static_cast<uint8_t*>(std::malloc(mbs));
    s->work = static_cast<uint8_t*>(std::malloc(4 * static_cast<size_t>(w) * h));
    if (!s->mbs || !s->mvs || !s->same || !s->work || !alloc_frame(s->ref, w, h) || !alloc_frame(s->cur, w, h)) {
        destroy_state(s);
        std::free(d);
        return nullptr;
    }
    d->width = w;
    d->height = h;
    d->first_call = 1;
    d->upscaled = 1;
    d->postfilter_on = viewer ? 1 : 0;
    return d;
}

int decoder_decode(DECODER* dec, unsigned char* out, unsigned char* data, int* used)
{
    return decode(dec, out, data, SIZE_MAX, used);
}

int decoder_decode_sized(DECODER* dec, unsigned char* out, const unsigned char* data, size_t size, int* used)
{
    return decode(dec, out, data, size, used);
}

int decoder_decode_view(DECODER* dec, unsigned char* out, const unsigned char* data, size_t size, int* used,
                        DECODER_VIEW* view)
{
    if (!view)
        return fail(used);
    return decode(dec, out, data, size, used, view);
}

const char* decoder_refusal(const DECODER* dec)
{
    return dec && dec->state ? dec->state->refusal : nullptr;
}

int decoder_destroy(DECODER* dec)
{
    if (!dec)
        return -1;
    destroy_state(dec->state);
    std::free(dec);
    return 0;
}

} // extern "C"
