// ParseUrl and SchemeFromText against a plain re-statement of their rules written with
// std::string searches, for URLs of any length: every part lands in a 1024-byte block of
// its own, so a part that is written past its buffer shows as a heap overflow.

#include "fuzz_check.h"

#include "http/url_parser.h"

#include <climits>

namespace {

struct Parts {
    std::string scheme, user, password, host, path;
    std::int32_t port = 0;
};

bool IsCBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// atol's reading of a decimal number, with the value kept within int32 the way a 32-bit
// long saturates.
std::int32_t ReadDecimal(const std::string& text, std::size_t from) {
    std::size_t i = from;
    while (i < text.size() && IsCBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (magnitude <= std::int64_t{1} << 32)
            magnitude = magnitude * 10 + (text[i] - '0');
    }
    std::int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

Parts Expected(const std::string& url) {
    const std::size_t npos = std::string::npos;
    Parts r;
    std::size_t start = 0;
    std::size_t c = url.find(':');
    if (c != npos && c + 1 < url.size() && url[c + 1] == '/') {
        r.scheme = url.substr(0, c);
        start = std::min(c + 3, url.size());
    } else {
        r.scheme = "http";
    }
    std::size_t at = url.find('@', start);
    if (at != npos) {
        std::size_t colon = url.find(':', start);
        if (colon != npos && colon < at) {
            r.user = url.substr(start, colon - start);
            r.password = url.substr(colon + 1, at - colon - 1);
        }
        start = at + 1;
    }
    std::size_t p = url.find('/', start);
    if (p == npos)
        p = url.size();
    std::size_t k = url.find(':', start);
    if (k != npos && k < p) {
        r.port = ReadDecimal(url, k + 1);
        r.host = url.substr(start, k - start);
    } else {
        r.port = r.scheme == "https" ? 443 : r.scheme == "ftp" ? 21 : 80;
        r.host = url.substr(start, p - start);
    }
    r.path = p < url.size() ? url.substr(p) : "/";
    return r;
}

using Part = char[UrlPartSize];

Part& AsPart(ExactBuffer& buffer) {
    return *reinterpret_cast<Part*>(buffer.data());
}

// The part as written: terminated inside its buffer, and equal to the expected text cut
// to what a 1024-byte buffer holds.
void CheckPart(ExactBuffer& buffer, const std::string& expected) {
    const char* text = buffer.data();
    FUZZ_CHECK(std::memchr(text, '\0', UrlPartSize) != nullptr);
    std::string got(text);
    FUZZ_CHECK(got == expected.substr(0, UrlPartSize - 1));
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

void CheckSchemeFromText(const std::string& text) {
    Scheme scheme = static_cast<Scheme>(-7);
    bool known = SchemeFromText(text.c_str(), scheme);
    if (StartsWith(text, "https")) {
        FUZZ_CHECK(known && scheme == Scheme::Https);
    } else if (StartsWith(text, "http")) {
        FUZZ_CHECK(known && scheme == Scheme::Http);
    } else if (StartsWith(text, "ftp")) {
        FUZZ_CHECK(known && scheme == Scheme::Ftp);
    } else {
        FUZZ_CHECK(!known);
        FUZZ_CHECK(scheme == static_cast<Scheme>(-7));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string url = TextOf(data, size);
    ExactBuffer scheme(UrlPartSize), user(UrlPartSize), password(UrlPartSize), host(UrlPartSize),
        path(UrlPartSize);
    std::int32_t port = -12345;

    const bool fits = ParseUrl(url.c_str(), AsPart(scheme), AsPart(user), AsPart(password),
                               AsPart(host), port, AsPart(path));

    const Parts want = Expected(url);
    CheckPart(scheme, want.scheme);
    CheckPart(user, want.user);
    CheckPart(password, want.password);
    CheckPart(host, want.host);
    CheckPart(path, want.path);
    FUZZ_CHECK(port == want.port);
    const bool wantFits = want.scheme.size() < UrlPartSize && want.user.size() < UrlPartSize &&
                          want.password.size() < UrlPartSize && want.host.size() < UrlPartSize &&
                          want.path.size() < UrlPartSize;
    FUZZ_CHECK(fits == wantFits);

    // Whatever the model says, the parts are pieces of the URL: the path is its tail (or
    // the "/" put in for none), credentials stand before an '@', the host is in the URL.
    if (fits) {
        const std::string gotPath(path.data()), gotHost(host.data());
        const std::string gotUser(user.data()), gotPassword(password.data());
        FUZZ_CHECK(gotPath == "/" ||
                   (url.size() >= gotPath.size() &&
                    url.compare(url.size() - gotPath.size(), gotPath.size(), gotPath) == 0));
        FUZZ_CHECK(gotPath[0] == '/');
        FUZZ_CHECK(url.find(gotHost) != std::string::npos);
        FUZZ_CHECK(gotHost.find('/') == std::string::npos);
        if (!gotUser.empty() || !gotPassword.empty())
            FUZZ_CHECK(url.find(gotUser + ":" + gotPassword + "@") != std::string::npos);
    }

    CheckSchemeFromText(scheme.data());
    CheckSchemeFromText(url);
    return 0;
}
