#include "upload/upload_query.h"

#include "util/bounded_text.h"

#include <cstring>

namespace {

bool NeedsEscape(unsigned char c) {
    return c == '+' || c == '%' || c == '&' || c == '#' || c == ' ' || c < 0x20 || c >= 0x7F;
}

// Appends text at length, bounded by capacity; false when it does not fit whole.
bool Put(char* destination, std::size_t capacity, std::size_t& length, const char* text) {
    if (!CopyText(destination + length, capacity - length, text))
        return false;
    length += std::strlen(text);
    return true;
}

bool PutEscaped(char* destination, std::size_t capacity, std::size_t& length, const char* value) {
    static const char Hex[] = "0123456789ABCDEF";
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(value); *p != 0; ++p) {
        char piece[4] = {static_cast<char>(*p), 0, 0, 0};
        if (NeedsEscape(*p)) {
            piece[0] = '%';
            piece[1] = Hex[*p >> 4];
            piece[2] = Hex[*p & 0x0F];
        }
        if (!Put(destination, capacity, length, piece))
            return false;
    }
    return true;
}

} // namespace

bool FormatUploadTarget(char* destination, std::size_t capacity, const char* uploadPath,
                        const char* sessionId, const char* userId) {
    if (capacity == 0)
        return false;
    std::size_t length = 0;
    const bool fits = Put(destination, capacity, length, uploadPath) &&
                      Put(destination, capacity, length, "?sessionId=") &&
                      PutEscaped(destination, capacity, length, sessionId) &&
                      Put(destination, capacity, length, "&userId=") &&
                      PutEscaped(destination, capacity, length, userId);
    if (!fits)
        destination[0] = '\0';
    return fits;
}
