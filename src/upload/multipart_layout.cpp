#include "upload/multipart_layout.h"

#include "util/bounded_text.h"

#include <cstring>

std::size_t PlainPartLength(const char* boundary, const char* name, const char* value) {
    return PlainPartFixedLength + std::strlen(boundary) + std::strlen(name) + std::strlen(value);
}

std::size_t FilePartHeaderLength(const char* boundary, const char* name, const char* fileName) {
    return FilePartFixedLength + std::strlen(boundary) + std::strlen(name) + std::strlen(fileName);
}

std::size_t ClosingLineLength(const char* boundary) {
    return ClosingLineFixedLength + std::strlen(boundary);
}

std::size_t WritePlainPart(char* dest, std::size_t room, const char* boundary, const char* name,
                           const char* value) {
    const std::size_t length = PlainPartLength(boundary, name, value);
    if (length >= room || !FormatText(dest, room, PlainPartFormat, boundary, name, value))
        return 0;
    return length;
}

std::size_t WriteFilePartHeader(char* dest, std::size_t room, const char* boundary,
                                const char* name, const char* fileName) {
    const std::size_t length = FilePartHeaderLength(boundary, name, fileName);
    if (length >= room || !FormatText(dest, room, FilePartFormat, boundary, name, fileName))
        return 0;
    return length;
}

std::size_t WriteClosingLine(char* dest, std::size_t room, const char* boundary) {
    const std::size_t length = ClosingLineLength(boundary);
    if (length >= room || !FormatText(dest, room, ClosingLineFormat, boundary))
        return 0;
    return length;
}

bool NeedsUtf8Name(const char* fileName) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(fileName); *p != 0; ++p) {
        if (*p >= 0x80 && *p <= 0xFE)
            return true;
    }
    return false;
}
