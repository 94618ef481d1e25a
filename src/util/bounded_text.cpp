#include "util/bounded_text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

bool CopyText(char* dest, std::size_t capacity, const char* src) {
    if (capacity == 0)
        return false;
    std::size_t length = std::strlen(src);
    bool fits = length < capacity;
    std::size_t n = fits ? length : capacity - 1;
    std::memmove(dest, src, n);
    dest[n] = '\0';
    return fits;
}

bool AppendText(char* dest, std::size_t capacity, const char* src) {
    std::size_t used = strnlen(dest, capacity);
    if (used >= capacity)
        return false;
    return CopyText(dest + used, capacity - used, src);
}

bool FormatText(char* dest, std::size_t capacity, const char* format, ...) {
    if (capacity == 0)
        return false;
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(dest, capacity, format, args);
    va_end(args);
    // Some C runtimes return -1 on truncation and leave the buffer unterminated.
    dest[capacity - 1] = '\0';
    return n >= 0 && static_cast<std::size_t>(n) < capacity;
}

bool FitsIn(const char* text, std::size_t capacity) {
    return strnlen(text, capacity) < capacity;
}
