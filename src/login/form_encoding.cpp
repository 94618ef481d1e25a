#include "login/form_encoding.h"

#include <cstdio>

namespace {

bool PassesUnchanged(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

} // namespace

int UrlEncodeForm(char* destination, std::size_t destinationSize, const char* source) {
    if (destinationSize == 0)
        return -1;
    std::size_t length = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(source); *p != 0; ++p) {
        char piece[4];
        std::size_t pieceLength = 1;
        if (PassesUnchanged(*p)) {
            piece[0] = static_cast<char>(*p);
        } else if (*p == ' ') {
            piece[0] = '+';
        } else {
            std::snprintf(piece, sizeof piece, "%%%02X", *p);
            pieceLength = 3;
        }
        if (length + pieceLength >= destinationSize) {
            destination[0] = '\0';
            return -1;
        }
        for (std::size_t i = 0; i < pieceLength; ++i)
            destination[length++] = piece[i];
        destination[length] = '\0';
    }
    destination[length] = '\0';
    return static_cast<int>(length);
}
