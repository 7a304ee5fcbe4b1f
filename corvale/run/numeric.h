// Number reading and narrowing as the control files and the DSP need them:
// C-library parsing without its undefined corners, guarded truncation toward
// zero, and the single-precision dB-to-ratio step shared by several readers.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstdlib>

// atoi as the C library computes it ((int) strtol), but a missing token reads as 0.
inline int AtoI(const char* s) { return s ? static_cast<int>(std::strtol(s, nullptr, 10)) : 0; }
inline long AtoL(const char* s) { return s ? std::strtol(s, nullptr, 10) : 0; }
// atof; a missing token reads as 0.
inline double AtoF(const char* s) { return s ? std::strtod(s, nullptr) : 0.0; }
// atof held in single precision.
inline float AtoFf(const char* s) { return static_cast<float>(AtoF(s)); }

// Truncation toward zero into 64 bits. Casting NaN or an out-of-range double is
// undefined, so NaN gives 0 and values beyond the range give the range's end.
inline int64_t Trunc64(double x)
{
    if (x != x) return 0;
    if (x >= 9223372036854775807.0) return INT64_MAX;
    if (x <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<int64_t>(x);
}

// Truncation toward zero into 32 bits, guarded like Trunc64.
inline int Trunc32(double x)
{
    if (x != x) return 0;
    if (x >= 2147483647.0) return INT32_MAX;
    if (x <= -2147483648.0) return INT32_MIN;
    return static_cast<int>(x);
}

// reference x 10^(dB / 20): dB / 20 in single precision, the power in double,
// the product rounded to single precision.
inline float dBtoRatio(float dB, float reference)
{
    const float e = dB / 20.0f;
    return static_cast<float>(std::pow(10.0, static_cast<double>(e)) * static_cast<double>(reference));
}
