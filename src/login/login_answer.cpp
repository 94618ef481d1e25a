#include "login/login_answer.h"

#include <cstring>

namespace {

bool IsAsciiLetterOrDigit(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

} // namespace

LoginVerdict JudgeLoginAnswer(const char* answer, std::size_t length, std::size_t tokenCapacity) {
    if (length >= 4 && std::memcmp(answer, "fail", 4) == 0)
        return LoginVerdict::Rejected;
    if (length < 24)
        return LoginVerdict::Incomplete;
    for (std::size_t i = 0; i < length; ++i) {
        if (!IsAsciiLetterOrDigit(answer[i]))
            return LoginVerdict::Rejected;
    }
    return length < tokenCapacity ? LoginVerdict::Accepted : LoginVerdict::Rejected;
}
