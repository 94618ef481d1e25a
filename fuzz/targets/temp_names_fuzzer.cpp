// IsNameInsideTemp against a model of how Windows resolves the name under the temp
// folder: split at "\" and "/" outside Shift-JIS characters, each segment's stream part
// dropped and its trailing dots and blanks stripped; "" and "." stay, ".." climbs. Whatever
// resolves to a climb, or names a reserved device, must be refused; an accepted name never
// climbs. NamesAFile against the rule for one file: a last segment that is not empty and
// no character outside Shift-JIS characters that Windows refuses in a file name (control
// characters, * ? " < > |). The input is the poked name; a poke keeps at most 259 bytes.

#include "fuzz_check.h"

#include "queue/temp_names.h"

#include <cctype>
#include <cstring>

namespace {

bool ShiftJisLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

std::vector<std::string> Segments(const std::string& name) {
    std::vector<std::string> segments(1);
    for (std::size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (ShiftJisLeadByte(c) && i + 1 < name.size()) {
            segments.back() += name.substr(i, 2);
            ++i;
        } else if (c == '\\' || c == '/') {
            segments.emplace_back();
        } else {
            segments.back() += static_cast<char>(c);
        }
    }
    return segments;
}

std::string Resolved(const std::string& segment) {
    std::string name = segment.substr(0, segment.find(':'));
    while (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.pop_back();
    return name;
}

bool Climbs(const std::string& segment) {
    const std::string base = segment.substr(0, segment.find(':'));
    // Only dots and blanks: Windows may read it as "..", and it never names a photo.
    return !base.empty() && Resolved(segment).empty();
}

bool IsDevice(const std::string& segment) {
    std::string base = segment.substr(0, segment.find_first_of(".:"));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (base == device)
            return true;
    }
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

bool RefusedInAFileName(const std::string& name) {
    for (std::size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (ShiftJisLeadByte(c) && i + 1 < name.size())
            ++i;
        else if (c < 0x20 || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|')
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string name = TextOf(data, size);
    if (name.size() > 259)
        name.resize(259);
    ExactBuffer buffer(name.size() + 1);
    std::memcpy(buffer.data(), name.c_str(), name.size() + 1);

    bool refusable = false;
    for (const std::string& segment : Segments(name))
        refusable = refusable || Climbs(segment) || IsDevice(segment);
    FUZZ_CHECK(IsNameInsideTemp(buffer.data(), ShiftJisLeadByte) == !refusable);

    const bool oneFile = !Segments(name).back().empty() && !RefusedInAFileName(name);
    FUZZ_CHECK(NamesAFile(buffer.data(), ShiftJisLeadByte) == oneFile);
    return 0;
}
