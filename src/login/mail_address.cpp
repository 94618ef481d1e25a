#include "login/mail_address.h"

#include "util/text_sizes.h"

#include <cstddef>
#include <cstring>

namespace {

// The punctuation that the service accepts in an address besides letters and digits.
constexpr char PlainPunctuation[] = "!#$%&'*+-/=?^_`{|}~";

// Explicit ranges rather than isalpha: the C runtime's answer for bytes 0x80-0xFF
// depends on the locale, and the service only counts ASCII letters.
bool IsAsciiLetter(int c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsAsciiDigit(int c) {
    return c >= '0' && c <= '9';
}

} // namespace

const char* const MailAddressMessages[MailAddressMessageCount] = {
    "",
    "長さが短かすぎます",
    "'@'がありません",
    "'@'より前がありません",
    "'@'より前に不正な文字があります",
    "'@'より後が短かすぎます",
    "'@'より後ろに不正な文字があります",
    "'@'より後ろに'.'がありません",
    "最後の'.'の後にアルファベットが二文字以上ありません",
    "連続した'.'があります",
};

int ClassifyMailChar(int character) {
    if (IsAsciiLetter(character) || IsAsciiDigit(character))
        return MailCharPlain;
    if (character == '.')
        return MailCharDot;
    if (character == '@')
        return MailCharAt;
    // strchr would also find the terminator, so 0 must not reach it.
    if (character > 0 && character < 0x80 && std::strchr(PlainPunctuation, character) != nullptr)
        return MailCharPlain;
    return MailCharInvalid;
}

int ValidateMailAddress(const char* text) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    std::size_t length = strnlen(text, NameSize);
    if (length >= NameSize)
        return -1;
    if (length < 6)
        return 1;

    const unsigned char* at = static_cast<const unsigned char*>(std::memchr(s, '@', length));
    if (at == nullptr)
        return 2;

    std::size_t localLength = static_cast<std::size_t>(at - s);
    if (localLength == 0)
        return 3;
    for (std::size_t i = 0; i < localLength; ++i) {
        if (ClassifyMailChar(s[i]) == MailCharInvalid)
            return 4;
    }

    const unsigned char* domain = at + 1;
    std::size_t domainLength = length - localLength - 1;
    if (domainLength < 3)
        return 5;

    const unsigned char* lastDot = nullptr;
    for (std::size_t i = 0; i < domainLength; ++i) {
        int kind = ClassifyMailChar(domain[i]);
        if (kind == MailCharInvalid || kind == MailCharAt)
            return 6;
        if (kind == MailCharDot)
            lastDot = domain + i;
    }
    if (lastDot == nullptr)
        return 7;

    int letters = 0;
    for (const unsigned char* p = lastDot + 1; p < domain + domainLength; ++p) {
        if (IsAsciiLetter(*p))
            ++letters;
    }
    if (letters < 2)
        return 8;

    if (std::strstr(text, "..") != nullptr)
        return 9;
    return 0;
}
