// exp for single-precision arguments computed the same way on every x86-64.
// The C library picks its expf at run time by CPU features (with or without
// FMA), which may differ in the last bit; results here must not.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

inline float ExpFloat(float xf) {
    const double x = xf;
    if (x < -110.0) return 0.0f;
    if (x > 89.0) return HUGE_VALF;
    const double n = std::floor(x * 1.4426950408889634 + 0.5);
    // ln 2 split so that n × kLn2Hi is exact.
    const double kLn2Hi = 6.93147180369123816490e-01, kLn2Lo = 1.90821492927058770002e-10;
    const double r = (x - n * kLn2Hi) - n * kLn2Lo;
    double p = 1.0 / 479001600.0;  // 1/12!
    const double inv[] = {1.0 / 39916800.0, 1.0 / 3628800.0, 1.0 / 362880.0, 1.0 / 40320.0, 1.0 / 5040.0,
                          1.0 / 720.0,      1.0 / 120.0,     1.0 / 24.0,     1.0 / 6.0,     0.5,
                          1.0,              1.0};
    for (double c : inv) p = p * r + c;
    // Scale by 2^n through the exponent bits: exact, and much cheaper than ldexp.
    const uint64_t bits = uint64_t(int64_t(n) + 1023) << 52;
    double scale;
    std::memcpy(&scale, &bits, sizeof scale);
    return float(p * scale);
}
