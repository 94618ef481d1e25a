#pragma once
// How the login judges the service's answer. Platform-free.

#include <cstddef>

enum class LoginVerdict {
    Incomplete, // keep reading
    Rejected,
    Accepted,
};

// answer holds the length bytes received so far. A session token is 24 or more ASCII
// letters and digits; it must also fit tokenCapacity bytes with its terminator, since a
// token cut short would be refused by every upload.
LoginVerdict JudgeLoginAnswer(const char* answer, std::size_t length, std::size_t tokenCapacity);
