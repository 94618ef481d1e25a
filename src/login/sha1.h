#pragma once
// SHA-1 (FIPS 180-1) and the text form of a digest that the login sends as "hash".
// Platform-free: no <windows.h>, so it also builds natively for fuzzing.

#include "util/text_sizes.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// With streamMode 0, digests count bytes at data and ignores stream; otherwise digests
// everything that can still be read from stream and ignores data and count. The uploader
// digests memory only; the stream mode completes the routine and nothing calls it.
void Sha1Compute(int streamMode, std::FILE* stream, const void* data, std::size_t count,
                 std::uint32_t digest[5]);

void Sha1Digest(const void* data, std::size_t count, std::uint32_t digest[5]);

// Zero-fills out, then writes the five words as 40 lowercase hexadecimal digits and a
// line feed. The service compares the whole value, line feed included.
void FormatDigestText(const std::uint32_t digest[5], char (&out)[NameSize]);
