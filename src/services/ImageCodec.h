#pragma once
// The one entry point of the image codec module (libcorvane-imaging.so),
// which the shell loads on the first image it converts. C types only, so
// the loader needs nothing of the module's own libraries.
#include <stddef.h>

extern "C" {

// Decodes `length` bytes of `bytes` and encodes them as `type` (an
// imagefiles::ImageType). On success answers 1 with the encoded bytes in
// `*data` (`*dataLength` of them); else 0 with a reason in `*error`. The
// caller frees both with free().
int corvane_imaging_encode(const char* bytes, size_t length, int type, char** data, size_t* dataLength,
                           char** error);
using CorvaneImagingEncode = decltype(&corvane_imaging_encode);
}

#define CORVANE_IMAGING_ENCODE_SYMBOL "corvane_imaging_encode"
#define CORVANE_IMAGING_MODULE_NAME "libcorvane-imaging.so"
