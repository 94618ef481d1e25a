#include "login/sha1.h"

#include "util/bounded_text.h"

#include <cstring>

namespace {

constexpr std::size_t BlockSize = 64;
// The last 8 bytes of the final block carry the message length in bits.
constexpr std::size_t LengthOffset = BlockSize - 8;

std::uint32_t RotateLeft(std::uint32_t value, int bits) {
    return (value << bits) | (value >> (32 - bits));
}

void ProcessBlock(const unsigned char block[BlockSize], std::uint32_t state[5]) {
    std::uint32_t w[80];
    for (int t = 0; t < 16; ++t) {
        w[t] = static_cast<std::uint32_t>(block[4 * t]) << 24 |
               static_cast<std::uint32_t>(block[4 * t + 1]) << 16 |
               static_cast<std::uint32_t>(block[4 * t + 2]) << 8 |
               static_cast<std::uint32_t>(block[4 * t + 3]);
    }
    for (int t = 16; t < 80; ++t)
        w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (int t = 0; t < 80; ++t) {
        std::uint32_t f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999u;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1u;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDCu;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6u;
        }
        std::uint32_t temp = RotateLeft(a, 5) + f + e + w[t] + k;
        e = d;
        d = c;
        c = RotateLeft(b, 30);
        b = a;
        a = temp;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

// The bit length as two 32-bit halves, so that the arithmetic is the same on every
// compiler the routine has to build with.
struct BitLength {
    std::uint32_t high = 0;
    std::uint32_t low = 0;

    void Add(std::uint32_t bits) {
        std::uint32_t before = low;
        low += bits;
        if (low < before)
            ++high;
    }
};

void WriteLength(const BitLength& length, unsigned char block[BlockSize]) {
    for (int i = 0; i < 4; ++i) {
        block[LengthOffset + i] = static_cast<unsigned char>(length.high >> (24 - 8 * i));
        block[LengthOffset + 4 + i] = static_cast<unsigned char>(length.low >> (24 - 8 * i));
    }
}

} // namespace

void Sha1Compute(int streamMode, std::FILE* stream, const void* data, std::size_t count,
                 std::uint32_t digest[5]) {
    std::uint32_t state[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    BitLength length;
    bool paddingPlaced = false;
    const unsigned char* next = static_cast<const unsigned char*>(data);
    std::size_t remaining = streamMode ? 0 : count;
    unsigned char block[BlockSize];

    for (;;) {
        std::size_t n;
        if (streamMode) {
            n = std::fread(block, 1, BlockSize, stream);
        } else {
            n = remaining < BlockSize ? remaining : BlockSize;
            if (n > 0)
                std::memcpy(block, next, n);
            next += n;
            remaining -= n;
        }

        if (n == BlockSize) {
            length.Add(512);
            ProcessBlock(block, state);
            continue;
        }

        length.Add(static_cast<std::uint32_t>(8 * n));
        std::size_t used = n;
        if (!paddingPlaced) {
            block[used++] = 0x80;
            paddingPlaced = true;
        }
        std::memset(block + used, 0, BlockSize - used);

        if (used <= LengthOffset) {
            WriteLength(length, block);
            ProcessBlock(block, state);
            break;
        }
        // No room for the length: this block goes out as it is, and the next pass
        // obtains nothing more and carries the length in a block of zeros.
        ProcessBlock(block, state);
    }

    for (int i = 0; i < 5; ++i)
        digest[i] = state[i];
}

void Sha1Digest(const void* data, std::size_t count, std::uint32_t digest[5]) {
    Sha1Compute(0, nullptr, data, count, digest);
}

void FormatDigestText(const std::uint32_t digest[5], char (&out)[NameSize]) {
    std::memset(out, 0, sizeof out);
    // unsigned long is 32 bits on Windows but 64 on the native fuzzing builds; the casts
    // keep "%08lx" correct on both.
    FormatText(out, sizeof out, "%08lx%08lx%08lx%08lx%08lx\n",
               static_cast<unsigned long>(digest[0]), static_cast<unsigned long>(digest[1]),
               static_cast<unsigned long>(digest[2]), static_cast<unsigned long>(digest[3]),
               static_cast<unsigned long>(digest[4]));
}
