#pragma once
// The byte layout of a multipart/form-data body: the part headers, the closing line and
// the room the estimate sets aside for each field. Platform-free.
//
// A plain part:  "--" boundary CRLF "Content-Disposition: form-data; name=\"" name "\""
//                CRLF CRLF value CRLF
// A file part:   "--" boundary CRLF "Content-Disposition: form-data; name=\"" name
//                "\"; filename=\"" file name "\"" CRLF CRLF, the file's bytes, CRLF
// The closing:   "--" boundary "--" CRLF
// Nothing is quoted or escaped, and there is no preamble and no per-part Content-Type:
// the album service reads exactly this.

#include <cstddef>
#include <cstdint>

// Room the estimate sets aside for a plain field, and for a file field on top of the
// file's size.
constexpr std::uint32_t PlainPartMargin = 8192;
constexpr std::uint32_t FilePartMargin = 6144;

// The fixed texts of the two part formats.
constexpr std::size_t PlainPartFixedLength = 49;
constexpr std::size_t FilePartFixedLength = 60;

std::size_t PlainPartLength(const char* boundary, const char* name, const char* value);
std::size_t FilePartHeaderLength(const char* boundary, const char* name, const char* fileName);
std::size_t ClosingLineLength(const char* boundary);

// Each writer formats its text into dest, which has room bytes, and terminates it.
// Returns the text's length, or 0 when the text and its terminator do not fit; nothing is
// written then.
std::size_t WritePlainPart(char* dest, std::size_t room, const char* boundary, const char* name,
                           const char* value);
std::size_t WriteFilePartHeader(char* dest, std::size_t room, const char* boundary,
                                const char* name, const char* fileName);
std::size_t WriteClosingLine(char* dest, std::size_t room, const char* boundary);

// Whether a file name in the ANSI code page goes out converted to UTF-8: it holds a byte
// from 0x80 to 0xFE. A name whose only high bytes are 0xFF is sent as it is.
bool NeedsUtf8Name(const char* fileName);

// The estimate's room for one file field: its size plus the margin, in 32-bit arithmetic
// as it has always been counted, so an unreadable file (size 0xFFFFFFFF) counts 6143.
inline std::uint32_t FileFieldEstimate(std::uint32_t fileSize) {
    return fileSize + FilePartMargin;
}
