// placeholder: replaced when this module lands
#include "corvale/audio/wav_out.h"
bool MAKE_HEADER(const char*, uint64_t, int, int, int64_t) { return false; }
void NUM16STER_TO_CHAR(const int32_t*, const int32_t*, unsigned char*, int64_t) {}
void NUM24STER_TO_CHAR(const int64_t*, const int64_t*, unsigned char*, int64_t) {}
void NUM16MONO_TO_CHAR(const int32_t*, unsigned char*, int64_t) {}
void NUM24MONO_TO_CHAR(const int64_t*, unsigned char*, int64_t) {}
OutputStage::OutputStage(const OutputFormat& fmt, RandomSource rnd) : fmt_(fmt), rnd_(rnd) {}
const unsigned char* OutputStage::Convert(int64_t, int64_t, int64_t*, int64_t*, int64_t& bytes) { bytes = 0; return nullptr; }
