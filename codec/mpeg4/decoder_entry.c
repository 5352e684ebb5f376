/* decoder_create alone, so that each module can build it with its own profile: a module links
 * this file compiled with its DECODER_ENTRY_PROFILE, and the library's copy (the viewer's) is
 * then never taken from the archive. */
#include "codec/mpeg4/decoder.h"

#ifndef DECODER_ENTRY_PROFILE
#define DECODER_ENTRY_PROFILE DECODER_PROFILE_VIEWER
#endif

DECODER* decoder_create(void) { return decoder_create_profile(DECODER_ENTRY_PROFILE); }
