#include "dde/login_data_tokens.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(std::string text) {
    char* tokens[LoginDataTokenCount] = {};
    int count = SplitLoginData(text.data(), tokens);
    return std::vector<std::string>(tokens, tokens + count);
}

} // namespace

TEST(LoginDataTokens, FourValuesSeparatedByTabsEndingInALineFeed) {
    EXPECT_EQ(Split("http://a/l\thttp://a/u\tme@x.jp\tpw\n"),
              (std::vector<std::string>{"http://a/l", "http://a/u", "me@x.jp", "pw"}));
}

TEST(LoginDataTokens, EmptyFieldsCannotBeExpressed) {
    EXPECT_EQ(Split("l\tu\t\tpw"), (std::vector<std::string>{"l", "u", "pw"}));
    EXPECT_EQ(Split("\t\n\tl\n\nu"), (std::vector<std::string>{"l", "u"}));
    EXPECT_TRUE(Split("").empty());
    EXPECT_TRUE(Split("\t\t\n").empty());
}

TEST(LoginDataTokens, CarriageReturnsStayAndExtraTokensAreIgnored) {
    EXPECT_EQ(Split("l\r\nu\r\nn\r\np\r\nextra"),
              (std::vector<std::string>{"l\r", "u\r", "n\r", "p\r"}));
}
