#pragma once
// Overall progress arithmetic of a run. Platform-free.

// Percent that one finished step adds, for a run of steps steps (steps > 0).
double ProgressStepFor(int steps);

// The bar position for a progress value: rounded half up, kept within 0..100.
int ProgressPosition(double value);
