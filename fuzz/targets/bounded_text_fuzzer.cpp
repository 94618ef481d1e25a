// The bounded text helpers that every fixed-size buffer goes through: CopyText,
// AppendText, FormatText and FitsIn, each on a block of exactly the capacity it is told.
// Whatever fits is written whole and terminated; what does not fit is cut to the
// capacity and terminated, and reported; no byte past the capacity is touched or read.
//
// Input: byte 0 is the capacity, then two lines: what the destination holds before
// (bytes, not necessarily terminated within the capacity), and the source text.

#include "fuzz_check.h"

#include "util/bounded_text.h"

#include <climits>

namespace {

// What a cut copy of source into capacity bytes leaves: the text and the result.
void CheckCut(const char* dest, std::size_t capacity, const std::string& source, bool result) {
    FUZZ_CHECK(result == (source.size() < capacity));
    const std::size_t kept = source.size() < capacity ? source.size() : capacity - 1;
    FUZZ_CHECK(std::memcmp(dest, source.data(), kept) == 0);
    FUZZ_CHECK(dest[kept] == '\0');
}

// A destination of exactly capacity bytes that starts as the given bytes (cut to the
// capacity, unterminated when they fill it), the rest filler.
void Prefill(ExactBuffer& dest, const std::string& before) {
    std::memcpy(dest.data(), before.data(), std::min(before.size(), dest.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::size_t capacity = data[0];
    const std::vector<std::string> lines = SplitInput(data + 1, size - 1, '\n', 2);
    const std::string before = lines[0];
    const std::string source =
        lines.size() > 1
            ? TextOf(reinterpret_cast<const std::uint8_t*>(lines[1].data()), lines[1].size())
            : std::string();

    {
        ExactBuffer dest(capacity);
        const bool result = CopyText(dest.data(), capacity, source.c_str());
        if (capacity == 0) {
            FUZZ_CHECK(!result);
        } else {
            CheckCut(dest.data(), capacity, source, result);
            FUZZ_CHECK(dest.UntouchedFrom(std::min(source.size(), capacity - 1) + 1));
        }
    }

    {
        ExactBuffer dest(capacity);
        Prefill(dest, before);
        const std::string original(dest.data(), capacity);
        const std::size_t used = strnlen(original.data(), capacity);
        const bool result = AppendText(dest.data(), capacity, source.c_str());
        if (used >= capacity) {
            // No terminator within the capacity: nothing can be appended, nothing changes.
            FUZZ_CHECK(!result);
            FUZZ_CHECK(std::memcmp(dest.data(), original.data(), capacity) == 0);
        } else {
            FUZZ_CHECK(std::memcmp(dest.data(), original.data(), used) == 0);
            CheckCut(dest.data() + used, capacity - used, source, result);
        }
    }

    {
        ExactBuffer dest(capacity);
        const bool result = FormatText(dest.data(), capacity, "<%s>", source.c_str());
        if (capacity == 0)
            FUZZ_CHECK(!result);
        else
            CheckCut(dest.data(), capacity, "<" + source + ">", result);
    }

    {
        // The precision form the URL parser copies spans with: only that many bytes are read.
        const std::size_t span = before.size() < source.size() ? before.size() : source.size();
        ExactBuffer text(span);
        std::memcpy(text.data(), source.data(), span);
        ExactBuffer dest(capacity);
        const bool result =
            FormatText(dest.data(), capacity, "%.*s", static_cast<int>(span), text.data());
        if (capacity == 0)
            FUZZ_CHECK(!result);
        else
            CheckCut(dest.data(), capacity, source.substr(0, span), result);
    }

    {
        // FitsIn reads at most capacity bytes: a text that does not fit has no terminator
        // in its block at all.
        const bool fits = source.size() < capacity;
        ExactBuffer text(fits ? source.size() + 1 : source.size());
        std::memcpy(text.data(), source.c_str(), text.size());
        FUZZ_CHECK(FitsIn(text.data(), capacity) == fits);
    }
    return 0;
}
