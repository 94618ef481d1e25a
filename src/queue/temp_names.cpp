#include "queue/temp_names.h"

#include <cstddef>
#include <cstring>

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameLetters(const char* text, std::size_t length, const char* word) {
    if (std::strlen(word) != length)
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (Upper(text[i]) != word[i])
            return false;
    }
    return true;
}

// Windows ignores what follows a device's name after a dot or a colon, and blanks before
// them: "nul.jpg", "CON :x" and "Com1" all name devices.
bool NamesDevice(const char* segment, std::size_t length) {
    std::size_t name = 0;
    while (name < length && segment[name] != '.' && segment[name] != ':')
        ++name;
    while (name > 0 && segment[name - 1] == ' ')
        --name;
    static const char* const Devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : Devices) {
        if (SameLetters(segment, name, device))
            return true;
    }
    // COM1-COM9 and LPT1-LPT9; COM0 and LPT0 are ordinary names.
    return name == 4 && (SameLetters(segment, 3, "COM") || SameLetters(segment, 3, "LPT")) &&
           segment[3] >= '1' && segment[3] <= '9';
}

// Windows drops a segment's trailing dots and blanks, so "..", ". ." and "..." all
// climb or stay, and so may ".." before a stream name; none names a photo. An empty
// segment ("a\\b") climbs nowhere.
bool OnlyDotsAndBlanks(const char* segment, std::size_t length) {
    std::size_t name = 0;
    while (name < length && segment[name] != ':')
        ++name;
    if (name == 0)
        return false;
    for (std::size_t i = 0; i < name; ++i) {
        if (segment[i] != '.' && segment[i] != ' ')
            return false;
    }
    return true;
}

bool AcceptableSegment(const char* segment, std::size_t length) {
    return !OnlyDotsAndBlanks(segment, length) && !NamesDevice(segment, length);
}

// The characters Windows refuses in a file name, apart from the separators and the colon
// (a drive or a stream, which the path's look-up judges).
bool NeverInAFileName(unsigned char c) {
    return c < ' ' || std::strchr("*?\"<>|", c) != nullptr;
}

} // namespace

bool IsNameInsideTemp(const char* name, LeadByteTest isLeadByte) {
    const char* segment = name;
    const char* p = name;
    while (*p != '\0') {
        // The trail byte of a double-byte character (0x5C in ソ or 表) is no separator.
        if (isLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') {
            p += 2;
            continue;
        }
        if (IsSeparator(*p)) {
            if (!AcceptableSegment(segment, static_cast<std::size_t>(p - segment)))
                return false;
            segment = p + 1;
        }
        ++p;
    }
    return AcceptableSegment(segment, static_cast<std::size_t>(p - segment));
}

bool NamesAFile(const char* name, LeadByteTest isLeadByte) {
    // An empty name ends where a folder's name would: in nothing after a separator.
    bool endsInSeparator = true;
    for (const char* p = name; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        // A trail byte may be 0x5C ("\") or 0x7C ("|"): ソ and ポ name files.
        if (isLeadByte(c) && p[1] != '\0') {
            ++p;
            endsInSeparator = false;
            continue;
        }
        if (NeverInAFileName(c))
            return false;
        endsInSeparator = IsSeparator(*p);
    }
    return !endsInSeparator;
}
