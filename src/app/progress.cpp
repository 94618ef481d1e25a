#include "app/progress.h"

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
