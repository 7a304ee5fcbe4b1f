// placeholder: replaced when this module lands
#include "corvale/audio/wav_in.h"
int GET_ATTRIBUTES(int, const char*, WavInfo&) { return 0; }
int64_t Float32Convert(int, int, int, int) { return 0; }
void DecodeFrames(const unsigned char*, int64_t, int, int, int64_t*, int64_t*) {}
void DecodeMono(const unsigned char*, int64_t, int, int64_t*) {}
