// FormatUploadTarget: the target equals an independent statement of the escaping rule,
// a standard query parser (pairs split at "&", name and value at the first "=", "+" read
// as a space, "%XX" as a byte, "#" ending the URL) reads back exactly the two values, the
// values' bytes are all printable ASCII, and nothing goes past a destination block of
// exactly the given size; a target that does not fit gives false and an empty text.
// Input: one byte that places the destination size around the length the target needs
// (signed offset), then the upload path, the session id and the user id, separated by
// NUL bytes (the last piece ends at its first NUL, as a C caller would see it).

#include "fuzz_check.h"

#include "upload/upload_query.h"

#include <utility>

namespace {

std::string Escape(const std::string& value) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : value) {
        if (c == '+' || c == '%' || c == '&' || c == '#' || c == ' ' || c < 0x20 || c >= 0x7F) {
            out += '%';
            out += Hex[c >> 4];
            out += Hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                   HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// A standard server's reading of a URL's query: every pair, in order.
std::vector<std::pair<std::string, std::string>> StandardQuery(const std::string& url) {
    std::string query = url.substr(url.find('?') + 1);
    query = query.substr(0, query.find('#'));
    std::vector<std::pair<std::string, std::string>> pairs;
    std::size_t begin = 0;
    while (begin <= query.size()) {
        std::size_t end = query.find('&', begin);
        if (end == std::string::npos)
            end = query.size();
        const std::string item = query.substr(begin, end - begin);
        const std::size_t equals = item.find('=');
        if (!item.empty())
            pairs.emplace_back(Unescape(item.substr(0, equals)),
                               equals == std::string::npos ? ""
                                                           : Unescape(item.substr(equals + 1)));
        begin = end + 1;
    }
    return pairs;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const int offset = static_cast<signed char>(data[0]);
    const std::vector<std::string> pieces = SplitInput(data + 1, size - 1, '\0', 3);
    const std::string path = pieces[0];
    const std::string sessionId = pieces.size() > 1 ? pieces[1] : "";
    const std::string userId = pieces.size() > 2 ? std::string(pieces[2].c_str()) : "";

    const std::string values = "sessionId=" + Escape(sessionId) + "&userId=" + Escape(userId);
    const std::string expected = path + "?" + values;
    const std::size_t capacity = RoomAround(expected.size(), offset);

    ExactBuffer destination(capacity);
    const bool fits = FormatUploadTarget(destination.data(), capacity, path.c_str(),
                                         sessionId.c_str(), userId.c_str());

    if (expected.size() >= capacity) {
        FUZZ_CHECK(!fits);
        if (capacity > 0)
            FUZZ_CHECK(destination.data()[0] == '\0');
        return 0;
    }
    FUZZ_CHECK(fits);
    const std::string got(destination.data());
    FUZZ_CHECK(got == expected);
    FUZZ_CHECK(destination.UntouchedFrom(expected.size() + 1));
    for (char c : values)
        FUZZ_CHECK(c > 0x20 && c < 0x7F);
    // The path goes in raw, so only a path without "?" and "#" leaves the query alone.
    if (path.find_first_of("?#") == std::string::npos) {
        const auto pairs = StandardQuery(got);
        FUZZ_CHECK(pairs.size() == 2);
        FUZZ_CHECK(pairs[0].first == "sessionId" && pairs[0].second == sessionId);
        FUZZ_CHECK(pairs[1].first == "userId" && pairs[1].second == userId);
    }
    return 0;
}
