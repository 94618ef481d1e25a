#include "login/login_answer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

LoginVerdict Judge(const std::string& answer) {
    return JudgeLoginAnswer(answer.data(), answer.size(), 64);
}

} // namespace

TEST(LoginAnswer, TwentyFourLettersAndDigitsAreASessionToken) {
    EXPECT_EQ(Judge("abcDEF0123456789abcdefXY"), LoginVerdict::Accepted);
    EXPECT_EQ(Judge(std::string(63, 'a')), LoginVerdict::Accepted);
}

TEST(LoginAnswer, ShorterAnswersAreStillIncomplete) {
    EXPECT_EQ(Judge(""), LoginVerdict::Incomplete);
    EXPECT_EQ(Judge("fai"), LoginVerdict::Incomplete);
    EXPECT_EQ(Judge(std::string(23, 'a')), LoginVerdict::Incomplete);
    EXPECT_EQ(Judge("token with blanks"), LoginVerdict::Incomplete);
}

TEST(LoginAnswer, FailOrAnythingElseIsRejected) {
    EXPECT_EQ(Judge("fail"), LoginVerdict::Rejected);
    EXPECT_EQ(Judge("failXXXXXXXXXXXXXXXXXXXXXXXXXXXX"), LoginVerdict::Rejected);
    EXPECT_EQ(Judge("abcDEF0123456789abcdefXY\n"), LoginVerdict::Rejected);
    EXPECT_EQ(Judge("abcDEF0123456789abcdef-Y"), LoginVerdict::Rejected);
    EXPECT_EQ(Judge(std::string(24, '\xB1')), LoginVerdict::Rejected);
}

TEST(LoginAnswer, ATokenThatWouldNotFitTheSessionFieldIsRejected) {
    EXPECT_EQ(Judge(std::string(64, 'a')), LoginVerdict::Rejected);
    EXPECT_EQ(Judge(std::string(151, 'a')), LoginVerdict::Rejected);
}
