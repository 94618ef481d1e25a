#include "http/http_client.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(FormBody, PairsJoinedByAmpersandsWithinTheCapacity) {
    HttpClient client;
    client.AddFormField("a", "1", false);
    client.AddFormField("b", "2", false);
    EXPECT_EQ(client.FormBodyLength(), 7u);

    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    // The body needs its terminator too: a capacity of exactly its length is too small.
    EXPECT_EQ(client.BuildFormBody(buffer, 7), 0u);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(16, 'x'));

    EXPECT_EQ(client.BuildFormBody(buffer, 8), 7u);
    EXPECT_EQ(std::string(buffer, 8), std::string("a=1&b=2\0", 8));
    EXPECT_EQ(buffer[8], 'x');
}

TEST(FormBody, NothingForAnEmptyList) {
    HttpClient client;
    EXPECT_EQ(client.FormBodyLength(), 0u);
    char buffer[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(client.BuildFormBody(buffer, sizeof buffer), 0u);
    EXPECT_EQ(buffer[0], 'x');
}

TEST(FormBody, ValuesGoOutAsStoredWhateverTheFileFlag) {
    HttpClient client;
    client.AddFormField("userId", "alice%40example.com", false);
    client.AddFormField("hash", "0123456789abcdef0123456789abcdef01234567\n", false);
    client.AddFormField("file", "C:\\a b&c.jpg", true);
    client.AddFormField("", "", false);
    const std::string expected = "userId=alice%40example.com"
                                 "&hash=0123456789abcdef0123456789abcdef01234567\n"
                                 "&file=C:\\a b&c.jpg&=";
    ASSERT_EQ(client.FormBodyLength(), expected.size());
    std::string buffer(expected.size() + 1, 'x');
    EXPECT_EQ(client.BuildFormBody(&buffer[0], static_cast<std::uint32_t>(buffer.size())),
              expected.size());
    EXPECT_EQ(buffer, expected + '\0');
}

TEST(CookieUrl, DefaultPortsAreLeftOut) {
    HttpClient client;
    client.host = "album.example.com";
    client.scheme = Scheme::Http;
    client.port = 8080;
    EXPECT_EQ(client.CookieUrl("/Pc/x?a=1"), "http://album.example.com:8080/Pc/x?a=1");
    client.port = 80;
    EXPECT_EQ(client.CookieUrl("/Pc/x"), "http://album.example.com/Pc/x");
    client.port = 443;
    EXPECT_EQ(client.CookieUrl("/Pc/x"), "http://album.example.com:443/Pc/x");

    client.scheme = Scheme::Https;
    EXPECT_EQ(client.CookieUrl("/Pc/x"), "https://album.example.com/Pc/x");
    client.port = 80;
    EXPECT_EQ(client.CookieUrl("/Pc/x"), "https://album.example.com:80/Pc/x");

    // FTP has no scheme prefix and always shows its port.
    client.scheme = Scheme::Ftp;
    client.port = 21;
    EXPECT_EQ(client.CookieUrl("/pub"), "album.example.com:21/pub");
}

} // namespace
