// UrlEncodeForm: the output decodes back to the source, holds only the characters the
// form encoding may produce, equals an independent encoding, and never goes past a
// destination block of exactly the given size; an output that does not fit gives -1 and
// an empty text. Input: one byte that places the destination size around the length
// the output needs (signed offset), then the source text.

#include "fuzz_check.h"

#include "login/form_encoding.h"

namespace {

std::string Encode(const std::string& source) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : source) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_') {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += Hex[c >> 4];
            out += Hex[c & 15];
        }
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1; // lowercase digits are not what the service is sent
}

// Decodes a form-encoded text; false if it holds anything the encoding never writes.
bool Decode(const std::string& encoded, std::string& decoded) {
    decoded.clear();
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '+') {
            decoded += ' ';
        } else if (c == '%') {
            if (i + 2 >= encoded.size())
                return false;
            const int high = HexValue(encoded[i + 1]), low = HexValue(encoded[i + 2]);
            if (high < 0 || low < 0)
                return false;
            const char byte = static_cast<char>(high * 16 + low);
            // A byte that travels unchanged must not also appear escaped.
            if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                byte == ' ')
                return false;
            decoded += byte;
            i += 2;
        } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                   c == '-' || c == '.' || c == '_') {
            decoded += c;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const int offset = static_cast<signed char>(data[0]);
    const std::string source = TextOf(data + 1, size - 1);
    const std::string expected = Encode(source);
    const std::size_t destinationSize = RoomAround(expected.size(), offset);

    ExactBuffer destination(destinationSize);
    const int result = UrlEncodeForm(destination.data(), destinationSize, source.c_str());

    if (expected.size() < destinationSize) {
        FUZZ_CHECK(result == static_cast<int>(expected.size()));
        const std::string got(destination.data());
        FUZZ_CHECK(got == expected);
        FUZZ_CHECK(destination.UntouchedFrom(expected.size() + 1));
        std::string decoded;
        FUZZ_CHECK(Decode(got, decoded));
        FUZZ_CHECK(decoded == source);
    } else {
        FUZZ_CHECK(result == -1);
        if (destinationSize > 0)
            FUZZ_CHECK(destination.data()[0] == '\0');
    }
    return 0;
}
