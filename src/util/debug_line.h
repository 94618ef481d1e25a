#pragma once
// The program's diagnostics: one line to the debugger (OutputDebugStringA), formatted into
// a bounded buffer. The end-to-end tests and the benchmarks read these lines from Wine's
// output, so their texts are a contract (ARCHITECTURE.md lists the ones they rely on):
// change one only together with its readers.

#include <cstddef>

// Longest line written; a longer one is cut there, still terminated. Diagnostic only.
constexpr std::size_t DebugLineSize = 512;

// printf-style. The caller ends the line with "\n" where it wants one: a few of the
// program's lines go out without, as they always have.
void WriteDebugLine(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
