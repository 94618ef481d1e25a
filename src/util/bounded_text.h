#pragma once
// Bounded writes into the fixed-size text buffers of the data model. Every helper
// reports whether the whole text fit; on false the buffer holds what fitted, terminated.

#include <cstddef>

bool CopyText(char* dest, std::size_t capacity, const char* src);
bool AppendText(char* dest, std::size_t capacity, const char* src);
bool FormatText(char* dest, std::size_t capacity, const char* format, ...);

template <std::size_t N> bool CopyText(char (&dest)[N], const char* src) {
    return CopyText(dest, N, src);
}
template <std::size_t N> bool AppendText(char (&dest)[N], const char* src) {
    return AppendText(dest, N, src);
}

// Whether text (terminator included) fits a buffer of capacity bytes.
bool FitsIn(const char* text, std::size_t capacity);
