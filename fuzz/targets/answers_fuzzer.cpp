// JudgeLoginAnswer and JudgeUploadAnswer on every prefix of an answer, as the jobs judge
// the answer after each read: each verdict equals the rule, the verdicts of growing
// prefixes agree with each other, and no byte past the length given is read (each prefix
// sits in a block of exactly its length). Input: byte 0 is the token capacity, the rest
// the answer's bytes.

#include "fuzz_check.h"

#include "login/login_answer.h"
#include "upload/upload_answer.h"

namespace {

bool IsLetterOrDigit(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

LoginVerdict ExpectedLogin(const std::string& answer, std::size_t capacity) {
    if (answer.compare(0, 4, "fail") == 0)
        return LoginVerdict::Rejected;
    if (answer.size() < 24)
        return LoginVerdict::Incomplete;
    for (char c : answer) {
        if (!IsLetterOrDigit(c))
            return LoginVerdict::Rejected;
    }
    // The token and its terminator must fit, or an upload would carry it cut short.
    return answer.size() + 1 <= capacity ? LoginVerdict::Accepted : LoginVerdict::Rejected;
}

int ExpectedUpload(const std::string& answer) {
    if (answer.size() < 4)
        return -1;
    return answer.compare(0, 7, "success") == 0 ? 0 : 4;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::size_t capacity = data[0];
    const std::string answer(reinterpret_cast<const char*>(data + 1), size - 1);

    bool failSeen = false;
    for (std::size_t m = 0; m <= answer.size(); ++m) {
        const std::string prefix = answer.substr(0, m);
        ExactBuffer block(m);
        if (m > 0)
            std::memcpy(block.data(), prefix.data(), m);

        const LoginVerdict login = JudgeLoginAnswer(block.data(), m, capacity);
        FUZZ_CHECK(login == ExpectedLogin(prefix, capacity));
        if (login == LoginVerdict::Accepted) {
            FUZZ_CHECK(m >= 24 && m < capacity);
            FUZZ_CHECK(prefix.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                "abcdefghijklmnopqrstuvwxyz") == std::string::npos);
        }
        if (login == LoginVerdict::Incomplete)
            FUZZ_CHECK(m < 24);
        // A refusal by "fail" is final: more bytes never turn it around.
        if (failSeen)
            FUZZ_CHECK(login == LoginVerdict::Rejected);
        if (m == 4 && prefix == "fail")
            failSeen = true;

        const int upload = JudgeUploadAnswer(block.data(), m);
        FUZZ_CHECK(upload == ExpectedUpload(prefix));
        FUZZ_CHECK((upload == -1) == (m < 4));
        if (upload == 0)
            FUZZ_CHECK(m >= 7 && std::memcmp(block.data(), "success", 7) == 0);
    }
    return 0;
}
