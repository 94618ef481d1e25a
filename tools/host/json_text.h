#pragma once
// The host tool's JSON output: bytes as hex and ANSI text as ASCII-only JSON strings.

#include <string>
#include <vector>

std::string Hex(const std::vector<char>& bytes);

// JSON string of a text given in the ANSI code page: ASCII kept, everything else \u-escaped
// through its Unicode value, so the output stays ASCII.
std::string JsonText(const std::string& text);
