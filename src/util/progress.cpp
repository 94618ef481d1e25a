#include "util/progress.h"

#include <cmath>

double ProgressStepFor(int steps) {
    return 100.0 / steps;
}

int ProgressPosition(double value) {
    const double rounded = std::floor(value + 0.5);
    if (rounded < 0.0)
        return 0;
    if (rounded > 100.0)
        return 100;
    return static_cast<int>(rounded);
}

int ShareOfSpan(std::uint32_t part, std::uint32_t whole, int span) {
    if (span <= 0)
        return 0;
    if (whole == 0 || part >= whole)
        return span;
    // Below 2^32 times below 2^31: the product fits 64 bits.
    return static_cast<int>(std::uint64_t{part} * static_cast<std::uint64_t>(span) / whole);
}
