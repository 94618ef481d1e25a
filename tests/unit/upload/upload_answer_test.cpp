#include "upload/upload_answer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

int Judge(const std::string& answer) {
    return JudgeUploadAnswer(answer.data(), answer.size());
}

} // namespace

TEST(UploadAnswer, JudgedOnlyOnceFourBytesHaveArrived) {
    EXPECT_EQ(Judge(""), -1);
    EXPECT_EQ(Judge("s"), -1);
    EXPECT_EQ(Judge("suc"), -1);
}

TEST(UploadAnswer, OnlyAnAnswerBeginningWithSuccessIsASuccess) {
    EXPECT_EQ(Judge("success"), 0);
    EXPECT_EQ(Judge("success and more"), 0);
    EXPECT_EQ(Judge("succ"), 4);
    EXPECT_EQ(Judge("succes"), 4);
    EXPECT_EQ(Judge("fail"), 4);
    EXPECT_EQ(Judge("SUCCESS"), 4);
    EXPECT_EQ(Judge(std::string(3000, 'x')), 4);
}
