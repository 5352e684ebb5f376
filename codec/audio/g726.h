#ifndef CAMCTL_CODEC_AUDIO_G726_H
#define CAMCTL_CODEC_AUDIO_G726_H
/* ITU-T G.726 ADPCM decoder for 2- to 5-bit codes (16 to 40 kbit/s) with the audio path's
 * fixed low-pass filter, as a plain C interface.
 *
 * Ownership: G726_decoder_create hands out an instance that only G726_decoder_destroy frees.
 * An instance is used by one thread at a time; separate instances share nothing, not even the
 * bits left over between calls. */

#ifdef __cplusplus
extern "C" {
#endif

typedef struct G726Decoder G726Decoder;

/* A new instance in the reset state, or NULL when memory is short. */
G726Decoder* G726_decoder_create(void);

/* Frees the instance: 0, or -1 for NULL. */
int G726_decoder_destroy(G726Decoder* instance);

/* Decodes the codes packed most significant bit first in `length` bytes of `data` into `pcm`
 * and returns the number of samples written. Bits left over from the previous call come first,
 * and bits that do not make a whole code wait for the next call. `code_bits` is 2, 3, 4 or 5;
 * any other size, a NULL instance, a negative length, or NULL data with a positive length
 * decode nothing and return 0.
 * `pcm` must hold (8 * length + 4) / code_bits samples; while every call uses the same code
 * size, 4 * length samples suffice. */
int G726_dec(G726Decoder* instance, int code_bits, const unsigned char* data, int length,
             short* pcm);

#ifdef __cplusplus
}
#endif

#endif
