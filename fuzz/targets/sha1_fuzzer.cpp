// Sha1Compute in both modes, Sha1Digest and FormatDigestText against OpenSSL's SHA1 on
// every input: memory mode over the input, stream mode over an fmemopen stream of it,
// from its start and from an offset within it ("everything that can still be read").
// Each mode must ignore the arguments of the other: memory mode gets no stream, stream
// mode gets a null pointer and a count that would be read far past anything.

#include "fuzz_check.h"

#include "login/sha1.h"

#include <openssl/sha.h>

#include <cstdio>

namespace {

struct Reference {
    std::uint32_t words[5];
    char text[42];
};

Reference OpenSslDigest(const std::uint8_t* data, std::size_t size) {
    unsigned char md[SHA_DIGEST_LENGTH];
    SHA1(data, size, md);
    Reference r;
    for (int i = 0; i < 5; ++i) {
        r.words[i] = static_cast<std::uint32_t>(md[4 * i]) << 24 |
                     static_cast<std::uint32_t>(md[4 * i + 1]) << 16 |
                     static_cast<std::uint32_t>(md[4 * i + 2]) << 8 | md[4 * i + 3];
    }
    static const char Hex[] = "0123456789abcdef";
    for (int i = 0; i < SHA_DIGEST_LENGTH; ++i) {
        r.text[2 * i] = Hex[md[i] >> 4];
        r.text[2 * i + 1] = Hex[md[i] & 15];
    }
    r.text[40] = '\n';
    r.text[41] = '\0';
    return r;
}

void CheckWords(const std::uint32_t got[5], const Reference& want) {
    for (int i = 0; i < 5; ++i)
        FUZZ_CHECK(got[i] == want.words[i]);
}

// A read-only stream over the bytes; glibc's fmemopen refuses a size of 0, so an empty
// input reads from an empty temporary file instead.
std::FILE* StreamOver(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return std::tmpfile();
    return fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Reference whole = OpenSslDigest(data, size);

    std::uint32_t digest[5];
    Sha1Digest(data, size, digest);
    CheckWords(digest, whole);

    std::memset(digest, 0, sizeof digest);
    Sha1Compute(0, nullptr, data, size, digest);
    CheckWords(digest, whole);

    // An empty password may come with no storage behind it.
    if (size == 0) {
        std::memset(digest, 0, sizeof digest);
        Sha1Digest(nullptr, 0, digest);
        CheckWords(digest, whole);
    }

    std::FILE* stream = StreamOver(data, size);
    FUZZ_CHECK(stream != nullptr);
    std::memset(digest, 0, sizeof digest);
    Sha1Compute(1, stream, nullptr, static_cast<std::size_t>(-1), digest);
    CheckWords(digest, whole);

    // Any non-zero mode reads the stream, here from an offset chosen by the first byte.
    const std::size_t from = size > 0 ? data[0] % (size + 1) : 0;
    FUZZ_CHECK(std::fseek(stream, static_cast<long>(from), SEEK_SET) == 0);
    std::memset(digest, 0, sizeof digest);
    Sha1Compute(-3, stream, data, size, digest);
    CheckWords(digest, OpenSslDigest(data + from, size - from));
    std::fclose(stream);

    // The text form: 40 lowercase digits and a line feed, the rest of the field zero.
    char text[NameSize];
    std::memset(text, Untouched, sizeof text);
    FormatDigestText(whole.words, text);
    FUZZ_CHECK(std::memcmp(text, whole.text, 41) == 0);
    for (std::size_t i = 41; i < NameSize; ++i)
        FUZZ_CHECK(text[i] == '\0');
    return 0;
}
