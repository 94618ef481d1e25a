// ClassifyMailChar and ValidateMailAddress against a re-statement of the address rules
// in their order of precedence, written over std::string. The input is the address; its
// first four bytes also go to ClassifyMailChar as one int, as a caller may pass any int.

#include "fuzz_check.h"

#include "login/mail_address.h"

#include <algorithm>

namespace {

int ExpectedClass(int c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return MailCharPlain;
    switch (c) {
    case '.':
        return MailCharDot;
    case '@':
        return MailCharAt;
    case 0x21:
    case 0x23:
    case 0x24:
    case 0x25:
    case 0x26:
    case 0x27:
    case 0x2A:
    case 0x2B:
    case 0x2D:
    case 0x2F:
    case 0x3D:
    case 0x3F:
    case 0x5E:
    case 0x5F:
    case 0x60:
    case 0x7B:
    case 0x7C:
    case 0x7D:
    case 0x7E:
        return MailCharPlain;
    default:
        return MailCharInvalid;
    }
}

int ClassOfByte(char c) {
    return ExpectedClass(static_cast<unsigned char>(c));
}

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

int ExpectedVerdict(const std::string& s) {
    if (s.size() >= 260)
        return -1;
    if (s.size() < 6)
        return 1;
    const std::size_t at = s.find('@');
    if (at == std::string::npos)
        return 2;
    const std::string local = s.substr(0, at);
    const std::string domain = s.substr(at + 1);
    if (local.empty())
        return 3;
    if (std::any_of(local.begin(), local.end(),
                    [](char c) { return ClassOfByte(c) == MailCharInvalid; }))
        return 4;
    if (domain.size() < 3)
        return 5;
    for (char c : domain) {
        if (ClassOfByte(c) == MailCharInvalid || ClassOfByte(c) == MailCharAt)
            return 6;
    }
    const std::size_t dot = domain.rfind('.');
    if (dot == std::string::npos)
        return 7;
    const std::string tail = domain.substr(dot + 1);
    if (std::count_if(tail.begin(), tail.end(), IsLetter) < 2)
        return 8;
    if (s.find("..") != std::string::npos)
        return 9;
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size >= 4) {
        std::int32_t any;
        std::memcpy(&any, data, sizeof any);
        FUZZ_CHECK(ClassifyMailChar(any) == ExpectedClass(any));
    }
    for (std::size_t i = 0; i < size; ++i) {
        // Both readings of a byte: as unsigned, and as the plain char of a signed-char
        // compiler (negative from 0x80 on), which is what the Windows build passes along
        // if a caller forgets the cast.
        FUZZ_CHECK(ClassifyMailChar(data[i]) == ExpectedClass(data[i]));
        const int asSigned = static_cast<signed char>(data[i]);
        FUZZ_CHECK(ClassifyMailChar(asSigned) == ExpectedClass(asSigned));
    }

    const std::string text = TextOf(data, size);
    const int verdict = ValidateMailAddress(text.c_str());
    FUZZ_CHECK(verdict == ExpectedVerdict(text));
    FUZZ_CHECK(verdict >= -1 && verdict < MailAddressMessageCount);
    if (verdict >= 0) {
        const char* message = MailAddressMessages[verdict];
        FUZZ_CHECK(message != nullptr);
        FUZZ_CHECK((verdict == 0) == (message[0] == '\0'));
    }

    // A field of 260 bytes without a terminator is refused without reading past it.
    if (text.size() >= 260) {
        ExactBuffer field(260);
        std::memcpy(field.data(), text.data(), 260);
        FUZZ_CHECK(ValidateMailAddress(field.data()) == -1);
    }
    return 0;
}
