#include "util/debug_line.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

void WriteDebugLine(const char* format, ...) {
    char line[DebugLineSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    // Some C runtimes leave a cut text unterminated.
    line[sizeof line - 1] = '\0';
    OutputDebugStringA(line);
}
