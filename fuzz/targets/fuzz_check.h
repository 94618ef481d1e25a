#pragma once
// What every fuzz target shares: a check that stops the run with a readable reason (so
// libFuzzer saves the input as a crash), and buffers sized exactly as the caller's would
// be, so that AddressSanitizer sees any byte written or read past their end.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

[[noreturn]] inline void FuzzFail(const char* file, int line, const char* what) {
    std::fprintf(stderr, "\n*** property violated at %s:%d: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            FuzzFail(__FILE__, __LINE__, #condition);                                              \
    } while (0)

// Filler for buffers before a call: bytes the code under test must overwrite, or leave.
constexpr unsigned char Untouched = 0xA5;

// A heap block of exactly size bytes, filled with Untouched. A zero size still gets a
// block of its own, which AddressSanitizer treats as having no usable byte at all.
class ExactBuffer {
  public:
    explicit ExactBuffer(std::size_t size) : size_(size), data_(new char[size]) {
        std::memset(data_, Untouched, size);
    }
    ~ExactBuffer() { delete[] data_; }
    ExactBuffer(const ExactBuffer&) = delete;
    ExactBuffer& operator=(const ExactBuffer&) = delete;

    char* data() { return data_; }
    const char* data() const { return data_; }
    std::size_t size() const { return size_; }

    // Whether bytes [from, size) all still hold the filler.
    bool UntouchedFrom(std::size_t from) const { return UntouchedRange(from, size_); }

    // The same, but the last byte may also be a NUL: the formatting helper terminates
    // the last byte of every room it is given, whatever the text's length.
    bool UntouchedFromBarEndNul(std::size_t from) const {
        if (size_ > from && data_[size_ - 1] == '\0')
            return UntouchedRange(from, size_ - 1);
        return UntouchedFrom(from);
    }

  private:
    bool UntouchedRange(std::size_t from, std::size_t to) const {
        for (std::size_t i = from; i < to; ++i) {
            if (static_cast<unsigned char>(data_[i]) != Untouched)
                return false;
        }
        return true;
    }

    std::size_t size_;
    char* data_;
};

// The input as a NUL-terminated text in a block of exactly its length plus one. An input
// holding a NUL byte gives the text before it, as a C caller would see it.
inline std::string TextOf(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return std::string();
    const void* nul = std::memchr(data, 0, size);
    std::size_t length =
        nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data) : size;
    return std::string(reinterpret_cast<const char*>(data), length);
}

// A buffer size around what a writer needs: needed plus its terminator, moved by the
// input's offset byte (-128 to 127), never below 0; so every case from far too small,
// through exactly right, to roomy is tried.
inline std::size_t RoomAround(std::size_t needed, int offset) {
    const long wanted = static_cast<long>(needed) + 1 + offset;
    return wanted > 0 ? static_cast<std::size_t>(wanted) : 0;
}

// Splits the input at the byte separator into at most maxPieces pieces; the last piece
// takes the rest, separators included.
inline std::vector<std::string> SplitInput(const std::uint8_t* data, std::size_t size,
                                           char separator, std::size_t maxPieces) {
    std::vector<std::string> pieces;
    const char* text = reinterpret_cast<const char*>(data);
    std::size_t begin = 0;
    while (size > 0 && pieces.size() + 1 < maxPieces) {
        const void* hit = std::memchr(text + begin, separator, size - begin);
        if (hit == nullptr)
            break;
        std::size_t end = static_cast<std::size_t>(static_cast<const char*>(hit) - text);
        pieces.emplace_back(text + begin, end - begin);
        begin = end + 1;
    }
    pieces.push_back(size > 0 ? std::string(text + begin, size - begin) : std::string());
    return pieces;
}
