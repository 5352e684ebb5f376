/* The decoder's public header compiles alone as C. */
#include "codec/audio/g726.h"

int g726_header_compiles_as_c(void);
int g726_header_compiles_as_c(void)
{
    return G726_decoder_destroy((G726Decoder*)0);
}
