#pragma once
// Progress arithmetic: the overall bar of a run, and the share of a request's body sent
// on the transfer bar. Platform-free.

#include <cstdint>

// Percent that one finished step adds, for a run of steps steps (steps > 0).
double ProgressStepFor(int steps);

// The bar position for a progress value: rounded half up, kept within 0..100.
int ProgressPosition(double value);

// The whole steps of span that part of whole makes: rounded down, so the last step comes
// only with the last byte; within 0..span. An empty whole is all there.
int ShareOfSpan(std::uint32_t part, std::uint32_t whole, int span);
