#pragma once
/* The only code that talks to libjpeg. libjpeg reports errors by calling a handler that must not
 * return, so the handler here longjmps back into these C functions; no C++ frame is ever between
 * the setjmp and the longjmp. The C++ callbacks below are entered from libjpeg but never see a
 * longjmp cross them (libjpeg raises its errors only after they have returned) and must not throw.
 *
 * Messages go into a caller's buffer of at least CODEC_JPEG_MESSAGE_SIZE bytes.
 */

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

enum
{
    CODEC_JPEG_MESSAGE_SIZE = 200
};

struct codec_jpeg_header
{
    int width;
    int height;
    int components;   /* of the output: 1 grey, 3 blue-green-red, 4 CMYK as stored */
    int density_unit; /* JFIF: 0 none, 1 dots per inch, 2 dots per centimetre */
    unsigned x_density;
    unsigned y_density;
};

struct codec_jpeg_decode_job
{
    /* Next block of input; returns its length, 0 at the end. The block stays valid until the next
     * call. */
    size_t (*fill)(void* ctx, const unsigned char** data);
    /* Called once the header is known, before libjpeg allocates for the picture. Returns where
     * the top picture row goes and, in *stride, the distance from one row to the next one down
     * (negative for a bottom-up bitmap); each row has room for width * (components == 4 ? 3 :
     * components) bytes. NULL refuses the picture; the callback has written the message. */
    unsigned char* (*begin)(void* ctx, const struct codec_jpeg_header* header, ptrdiff_t* stride);
    /* Asked before each scanline; non-zero cancels the decode (the callback writes the message). */
    int (*cancelled)(void* ctx);
    void* ctx;
    /* Limit for libjpeg's own large buffers (whole-image coefficients of progressive files). */
    long max_memory;
    char* message;
};

/* 0 on success. On failure the message has been written. */
int codec_jpeg_decode(struct codec_jpeg_decode_job* job);

struct codec_jpeg_encode_job
{
    /* Writes the bytes and returns how many were written; fewer fails the encode. */
    size_t (*write)(void* ctx, const unsigned char* data, size_t size);
    void* ctx;
    const unsigned char* top_row; /* top picture row */
    ptrdiff_t stride;             /* from one row to the next one down */
    int width;
    int height;
    int components; /* 1: grey samples; 3: blue-green-red pixels */
    int quality;
    unsigned x_dpi; /* written as JFIF density in dots per inch */
    unsigned y_dpi;
    char* message;
};

int codec_jpeg_encode(struct codec_jpeg_encode_job* job);

#ifdef __cplusplus
}
#endif
