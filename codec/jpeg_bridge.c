#include "codec/jpeg_bridge.h"

#include <setjmp.h>
#include <stdio.h>
#include <string.h>

#include <jerror.h>
#include <jpeglib.h>

struct bridge_error
{
    struct jpeg_error_mgr pub;
    jmp_buf jump;
    char* message;
};

static void on_error(j_common_ptr cinfo)
{
    struct bridge_error* err = (struct bridge_error*)cinfo->err;
    (*cinfo->err->format_message)(cinfo, err->message);
    longjmp(err->jump, 1);
}

/* Warnings would otherwise go to stderr; a camera stream can produce one per frame. */
static void no_output(j_common_ptr cinfo)
{
    (void)cinfo;
}

static void set_message(char* message, const char* text)
{
    strncpy(message, text, CODEC_JPEG_MESSAGE_SIZE - 1);
    message[CODEC_JPEG_MESSAGE_SIZE - 1] = '\0';
}

/* --- decoding ---------------------------------------------------------------------------------*/

/* A camera's progressive picture has about ten scans. Every scan walks the whole picture however
 * few bytes it has, so without a bound a frame's decode grows with its size times its area. */
enum
{
    MAX_SCANS = 256
};

struct decoder
{
    struct jpeg_decompress_struct cinfo; /* first, so that a cinfo pointer is a decoder pointer */
    struct bridge_error err;
    struct jpeg_source_mgr src;
    struct jpeg_progress_mgr progress;
    struct codec_jpeg_decode_job* job;
    int started;
};

/* Called between input rows while jpeg_start_decompress reads every scan of a multi-scan picture. */
static void on_progress(j_common_ptr cinfo)
{
    struct decoder* d = (struct decoder*)cinfo;
    if (d->cinfo.input_scan_number > MAX_SCANS) {
        set_message(d->job->message, "JPEG picture has too many scans");
        longjmp(d->err.jump, 1);
    }
    if (d->job->cancelled(d->job->ctx))
        longjmp(d->err.jump, 1);
}

static void src_init(j_decompress_ptr cinfo)
{
    (void)cinfo;
}

static boolean src_fill(j_decompress_ptr cinfo)
{
    struct decoder* d = (struct decoder*)cinfo;
    const unsigned char* data = NULL;
    size_t size = d->job->fill(d->job->ctx, &data);
    if (size == 0) {
        /* Input that ends before the EOI marker is a picture cut short. libjpeg's own sources
         * would pad it and only warn, which hands a half-grey frame to the painter. */
        ERREXIT(cinfo, d->started ? JERR_INPUT_EOF : JERR_INPUT_EMPTY);
    }
    d->started = 1;
    cinfo->src->next_input_byte = data;
    cinfo->src->bytes_in_buffer = size;
    return TRUE;
}

static void src_skip(j_decompress_ptr cinfo, long num_bytes)
{
    struct jpeg_source_mgr* src = cinfo->src;
    if (num_bytes <= 0)
        return;
    while ((size_t)num_bytes > src->bytes_in_buffer) {
        num_bytes -= (long)src->bytes_in_buffer;
        src_fill(cinfo);
    }
    src->next_input_byte += num_bytes;
    src->bytes_in_buffer -= (size_t)num_bytes;
}

static void src_term(j_decompress_ptr cinfo)
{
    (void)cinfo;
}

/* Adobe writes CMYK inverted, so the samples already say how much of each light is let through;
 * K scales all three. */
static void cmyk_row_to_bgr(const JSAMPLE* in, unsigned char* out, JDIMENSION width)
{
    JDIMENSION x;
    for (x = 0; x < width; ++x, in += 4, out += 3) {
        unsigned k = in[3];
        out[0] = (unsigned char)(in[2] * k / 255);
        out[1] = (unsigned char)(in[1] * k / 255);
        out[2] = (unsigned char)(in[0] * k / 255);
    }
}

static int run_decode(struct decoder* d)
{
    j_decompress_ptr cinfo = &d->cinfo;
    struct codec_jpeg_decode_job* job = d->job;
    struct codec_jpeg_header header;
    unsigned char* top;
    ptrdiff_t stride = 0;
    JSAMPROW cmyk_row = NULL;

    jpeg_create_decompress(cinfo);
    cinfo->mem->max_memory_to_use = job->max_memory;
    d->src.init_source = src_init;
    d->src.fill_input_buffer = src_fill;
    d->src.skip_input_data = src_skip;
    d->src.resync_to_restart = jpeg_resync_to_restart;
    d->src.term_source = src_term;
    d->src.next_input_byte = NULL;
    d->src.bytes_in_buffer = 0;
    cinfo->src = &d->src;
    d->progress.progress_monitor = on_progress;
    cinfo->progress = &d->progress;

    jpeg_read_header(cinfo, TRUE);
    switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo->out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_YCbCr:
    case JCS_RGB:
        /* Same samples as RGB output with red and blue swapped afterwards, without the pass. */
        cinfo->out_color_space = JCS_EXT_BGR;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo->out_color_space = JCS_CMYK;
        break;
    default:
        set_message(job->message, "Unsupported JPEG colour space");
        return -1;
    }
    jpeg_calc_output_dimensions(cinfo);

    header.width = (int)cinfo->output_width;
    header.height = (int)cinfo->output_height;
    header.components = cinfo->output_components;
    header.density_unit = cinfo->density_unit;
    header.x_density = cinfo->X_density;
    header.y_density = cinfo->Y_density;
    top = job->begin(job->ctx, &header, &stride);
    if (top == NULL)
        return -1;

    jpeg_start_decompress(cinfo);
    if (cinfo->output_components == 4)
        cmyk_row = (*cinfo->mem->alloc_sarray)((j_common_ptr)cinfo, JPOOL_IMAGE,
                                               cinfo->output_width * 4, 1)[0];
    while (cinfo->output_scanline < cinfo->output_height) {
        unsigned char* out = top + (ptrdiff_t)cinfo->output_scanline * stride;
        JSAMPROW target = cmyk_row != NULL ? cmyk_row : out;
        if (job->cancelled(job->ctx))
            return -1;
        if (jpeg_read_scanlines(cinfo, &target, 1) != 1) {
            set_message(job->message, "JPEG decoder returned no scanline");
            return -1;
        }
        if (cmyk_row != NULL)
            cmyk_row_to_bgr(cmyk_row, out, cinfo->output_width);
    }
    jpeg_finish_decompress(cinfo);
    return 0;
}

int codec_jpeg_decode(struct codec_jpeg_decode_job* job)
{
    struct decoder d;
    int result;

    memset(&d, 0, sizeof d);
    d.job = job;
    d.cinfo.err = jpeg_std_error(&d.err.pub);
    d.err.pub.error_exit = on_error;
    d.err.pub.output_message = no_output;
    d.err.message = job->message;
    if (setjmp(d.err.jump) != 0) {
        jpeg_destroy_decompress(&d.cinfo);
        return -1;
    }
    result = run_decode(&d);
    jpeg_destroy_decompress(&d.cinfo);
    return result;
}

/* --- encoding ---------------------------------------------------------------------------------*/

enum
{
    OUTPUT_CHUNK = 4096
};

struct encoder
{
    struct jpeg_compress_struct cinfo; /* first, so that a cinfo pointer is an encoder pointer */
    struct bridge_error err;
    struct jpeg_destination_mgr dest;
    struct codec_jpeg_encode_job* job;
    JOCTET buffer[OUTPUT_CHUNK];
};

static void dest_init(j_compress_ptr cinfo)
{
    struct encoder* e = (struct encoder*)cinfo;
    e->dest.next_output_byte = e->buffer;
    e->dest.free_in_buffer = OUTPUT_CHUNK;
}

static boolean dest_empty(j_compress_ptr cinfo)
{
    struct encoder* e = (struct encoder*)cinfo;
    if (e->job->write(e->job->ctx, e->buffer, OUTPUT_CHUNK) != OUTPUT_CHUNK)
        ERREXIT(cinfo, JERR_FILE_WRITE);
    e->dest.next_output_byte = e->buffer;
    e->dest.free_in_buffer = OUTPUT_CHUNK;
    return TRUE;
}

static void dest_term(j_compress_ptr cinfo)
{
    struct encoder* e = (struct encoder*)cinfo;
    size_t size = OUTPUT_CHUNK - e->dest.free_in_buffer;
    if (size > 0 && e->job->write(e->job->ctx, e->buffer, size) != size)
        ERREXIT(cinfo, JERR_FILE_WRITE);
}

static UINT16 density(unsigned dpi)
{
    return (UINT16)(dpi > 65535u ? 65535u : dpi);
}

static int run_encode(struct encoder* e)
{
    j_compress_ptr cinfo = &e->cinfo;
    struct codec_jpeg_encode_job* job = e->job;

    jpeg_create_compress(cinfo);
    e->dest.init_destination = dest_init;
    e->dest.empty_output_buffer = dest_empty;
    e->dest.term_destination = dest_term;
    cinfo->dest = &e->dest;

    cinfo->image_width = (JDIMENSION)job->width;
    cinfo->image_height = (JDIMENSION)job->height;
    cinfo->input_components = job->components;
    cinfo->in_color_space = job->components == 1 ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, job->quality, TRUE);
    cinfo->write_JFIF_header = TRUE;
    cinfo->density_unit = 1;
    cinfo->X_density = density(job->x_dpi);
    cinfo->Y_density = density(job->y_dpi);

    jpeg_start_compress(cinfo, TRUE);
    while (cinfo->next_scanline < cinfo->image_height) {
        /* libjpeg takes rows as writable but only reads them. */
        JSAMPROW row = (JSAMPROW)(job->top_row + (ptrdiff_t)cinfo->next_scanline * job->stride);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return 0;
}

int codec_jpeg_encode(struct codec_jpeg_encode_job* job)
{
    struct encoder e;
    int result;

    memset(&e, 0, sizeof e);
    e.job = job;
    e.cinfo.err = jpeg_std_error(&e.err.pub);
    e.err.pub.error_exit = on_error;
    e.err.pub.output_message = no_output;
    e.err.message = job->message;
    if (setjmp(e.err.jump) != 0) {
        jpeg_destroy_compress(&e.cinfo);
        return -1;
    }
    result = run_encode(&e);
    jpeg_destroy_compress(&e.cinfo);
    return result;
}
