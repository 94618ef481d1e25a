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

inline constexpr char PlainPartFormat[] =
    "--%s\r\nContent-Disposition: form-data; name=\"%s\"\r\n\r\n%s\r\n";
inline constexpr char FilePartFormat[] =
    "--%s\r\nContent-Disposition: form-data; name=\"%s\"; filename=\"%s\"\r\n\r\n";
inline constexpr char ClosingLineFormat[] = "--%s--\r\n";

// A format's own text: its length without the "%s" placeholders.
template <std::size_t N> constexpr std::size_t FixedTextLength(const char (&format)[N]) {
    std::size_t length = N - 1;
    for (std::size_t i = 0; i + 2 < N; ++i) {
        if (format[i] == '%' && format[i + 1] == 's')
            length -= 2;
    }
    return length;
}

constexpr std::size_t PlainPartFixedLength = FixedTextLength(PlainPartFormat);
constexpr std::size_t FilePartFixedLength = FixedTextLength(FilePartFormat);
constexpr std::size_t ClosingLineFixedLength = FixedTextLength(ClosingLineFormat);
// The part lengths the album service's parser is known to take.
static_assert(PlainPartFixedLength == 49 && FilePartFixedLength == 60 &&
              ClosingLineFixedLength == 6);

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

// The estimate's room for one file field: its size plus the margin, in 64 bits, so that no
// file's size (a non-negative 64-bit value) wraps into the room of a small one.
inline std::uint64_t FileFieldEstimate(std::uint64_t fileSize) {
    return fileSize + FilePartMargin;
}
