/* MPEG-4 Visual (ISO/IEC 14496-2) Simple Profile picture decoder, C interface.
 *
 * One decoder per stream, used by one thread at a time. The buffers are sized
 * at creation for the profile's creation size and never grow; a stream whose
 * layer header is larger in either direction is refused.
 *
 * Output layout: planar YUV 4:2:0, Y then U then V, rows top to bottom, no
 * gaps. While `upscaled` is 1 the picture is doubled in both directions, so
 * `out` must hold 6 * width * height bytes of the creation size; otherwise
 * 1.5 * width * height bytes of the stream size.
 *
 * The parts under CAMCTL_INTERNAL_API are for the modules' own code and are not exported. */
#ifndef CAMCTL_CODEC_MPEG4_DECODER_H
#define CAMCTL_CODEC_MPEG4_DECODER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef CAMCTL_INTERNAL_API
/* The two modules carry the same decoder with these differences. */
enum {
    DECODER_PROFILE_VIEWER = 0, /* 1024x768, filter flag set at creation, smoothed strength, 512-scale transform */
    DECODER_PROFILE_MOTION = 1  /* 640x480, filter flag set by the header pass, strength vop_quant, 128-scale transform */
};
#endif

struct Mpeg4State;

typedef struct DECODER {
    int32_t width;         /* creation size, then the layer header's */
    int32_t height;
    int32_t first_call;    /* 1 until headers were parsed and a picture decoded */
    int32_t upscaled;      /* 1 until a layer header was parsed: output is doubled */
    int32_t postfilter_on; /* deblock the picture being decoded; callers may clear it */
    struct Mpeg4State* state; /* owned by the decoder */
} DECODER;

/* The profile of the module it is built into (the viewer's in the library). Null when any
 * buffer cannot be allocated. */
DECODER* decoder_create(void);
#ifdef CAMCTL_INTERNAL_API
/* Either profile; null for an unknown profile or when memory runs out. */
DECODER* decoder_create_profile(int profile);
/* Either profile at another creation size, 1 to 4096 each way (the fuzz target's small
 * decoders); null as above or for a size out of range. */
DECODER* decoder_create_sized(int profile, int width, int height);
#endif

/* Decodes one picture (on the first call: the stream headers and one picture).
 * Returns 0 and fills `out`, or 1 with `out` untouched. `*used` is the bytes
 * consumed including the closing stuffing, or 4 on error.
 * The length is unknown here: the bitstream must end where it says and the
 * caller's buffer must extend at least 8 bytes past it. */
int decoder_decode(DECODER* dec, unsigned char* out, unsigned char* data, int* used);

#ifdef CAMCTL_INTERNAL_API
/* Same contract, reading never past data[size - 1] (what the modules call); running out of input
 * fails the picture. */
int decoder_decode_sized(DECODER* dec, unsigned char* out, const unsigned char* data, size_t size,
                         int* used);

/* A decoded picture where it lies: three planes and their strides. */
typedef struct DECODER_VIEW {
    const unsigned char* plane[3];
    int stride[3];
    int width, height;
} DECODER_VIEW;

/* As decoder_decode_sized, but a picture of the stream's size is not copied out: `view` points
 * into the decoder's own planes, valid until its next call, and `out` is left alone. A doubled
 * picture is written to `out` as usual and `view` points there. */
int decoder_decode_view(DECODER* dec, unsigned char* out, const unsigned char* data, size_t size,
                        int* used, DECODER_VIEW* view);

/* Why the last call failed, in a few words of English (for diagnostics: a camera whose stream
 * uses tools this decoder lacks says so); null after a decoded picture. */
const char* decoder_refusal(const DECODER* dec);
#endif

/* 0, or -1 for null. */
int decoder_destroy(DECODER* dec);

#ifdef __cplusplus
}
#endif

#endif
