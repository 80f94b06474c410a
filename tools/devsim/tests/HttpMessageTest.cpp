#include "HttpMessage.h"

#include <gtest/gtest.h>

namespace devsim {
namespace {

// The credential check of a camera, byte for byte as the tool writes it.
constexpr std::string_view kToolRequest = "GET /vb.htm?paratest=authority HTTP/1.1\r\n"
                                          "Accept: */*\r\n"
                                          "Accept-Language: en-us\r\n"
                                          "Accept-Encoding: gzip, default\r\n"
                                          "User-Agent: http client\r\n"
                                          "Authorization: Basic YWRtaW46YWRtaW4=\r\n"
                                          "Host: 10.77.1.10\r\n"
                                          "\r\n";

TEST(HttpMessage, HeaderEndsAtTheFirstEmptyLine)
{
    struct Case {
        std::string_view received;
        std::optional<std::size_t> end;
    };
    const Case cases[] = {
        {kToolRequest, kToolRequest.size()},
        {"GET / HTTP/1.1\nHost: x\n\n", 24},
        {"GET / HTTP/1.1\r\nHost: x\n\r\n", 26},    // mixed line ends
        {"GET / HTTP/1.1\r\n\r\nbody", 18},         // what follows is not header
        {"GET / HTTP/1.1\r\nA: b\r\n\r\n\r\n", 24}, // the first empty line counts
        {"\r\n", 2},
        {"GET / HTTP/1.1\r\nHost: x\r\n", std::nullopt},
        {"GET / HTTP/1.1\r\n\r", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindHeaderEnd(c.received), c.end) << c.received;
}

TEST(HttpMessage, EveryPrefixOfTheToolsRequestIsIncomplete)
{
    for (std::size_t length = 0; length < kToolRequest.size(); ++length)
        EXPECT_FALSE(FindHeaderEnd(kToolRequest.substr(0, length))) << length;
}

TEST(HttpMessage, ParsesTheToolsRequest)
{
    const HttpParse parse = ParseHttpRequest(kToolRequest);
    ASSERT_TRUE(parse.request) << parse.error;
    EXPECT_EQ(parse.request->method, "GET");
    EXPECT_EQ(parse.request->target, "/vb.htm?paratest=authority");
    EXPECT_EQ(parse.request->version, "HTTP/1.1");
    ASSERT_EQ(parse.request->headers.size(), 6u);
    EXPECT_EQ(parse.request->headers[4],
              (std::pair<std::string, std::string>{"Authorization", "Basic YWRtaW46YWRtaW4="}));
    EXPECT_EQ(HeaderValue(*parse.request, "authorization"), "Basic YWRtaW46YWRtaW4=");
    EXPECT_EQ(HeaderValue(*parse.request, "HOST"), "10.77.1.10");
    EXPECT_EQ(HeaderValue(*parse.request, "Content-Length"), std::nullopt);
}

TEST(HttpMessage, MalformedRequestsAreRefused)
{
    const char* headers[] = {
        "\r\n",
        "GET /vb.htm\r\n\r\n",
        "GET  /vb.htm HTTP/1.1\r\n\r\n", // two spaces: an empty target
        "GET /vb.htm FTP/1.0\r\n\r\n",
        "GET /vb.htm HTTP/1.1 extra\r\n\r\n",
        "GET /vb.htm HTTP/1.1\r\nNo colon here\r\n\r\n",
        "GET /vb.htm HTTP/1.1\r\n: no name\r\n\r\n",
    };
    for (const char* header : headers) {
        const HttpParse parse = ParseHttpRequest(header);
        EXPECT_FALSE(parse.request) << header;
        EXPECT_NE(parse.error, "") << header;
    }
}

TEST(HttpMessage, BasicAuthorizationValues)
{
    struct Case {
        const char* value;
        std::optional<std::string> user;
        bool hasColon;
        const char* password;
    };
    const Case cases[] = {
        {"Basic YWRtaW46YWRtaW4=", "admin", true, "admin"},
        {"basic   YWRtaW46YWRtaW4=", "admin", true, "admin"},
        {"Basic YWRtaW46", "admin", true, ""},  // empty password
        {"Basic YWRtaW4=", "admin", false, ""}, // no colon at all
        {"Basic ", "", false, ""},              // the tool sends the line with no token too
        {"Basic", "", false, ""},
        {"Basic YWRtaW46YWRtaW4", std::nullopt, false, ""}, // padding missing
        {"Digest username=\"admin\"", std::nullopt, false, ""},
        {"BasicYWRtaW46YWRtaW4=", std::nullopt, false, ""},
    };
    for (const Case& c : cases) {
        const BasicCredentials credentials = ParseBasicAuthorization(c.value);
        EXPECT_EQ(credentials.user, c.user) << c.value;
        EXPECT_EQ(credentials.hasColon, c.hasColon) << c.value;
        EXPECT_EQ(credentials.password, c.password) << c.value;
    }
}

TEST(HttpMessage, ResponseFraming)
{
    EXPECT_EQ(BuildHttpResponse(200, "process=25<br>"), "HTTP/1.1 200 OK\r\n"
                                                        "Content-Type: text/html\r\n"
                                                        "Content-Length: 14\r\n"
                                                        "Connection: close\r\n"
                                                        "\r\n"
                                                        "process=25<br>");
    EXPECT_EQ(BuildHttpResponse(401, "", "WWW-Authenticate: Basic realm=\"device\"\r\n"),
              "HTTP/1.1 401 Unauthorized\r\n"
              "Content-Type: text/html\r\n"
              "Content-Length: 0\r\n"
              "Connection: close\r\n"
              "WWW-Authenticate: Basic realm=\"device\"\r\n"
              "\r\n");
    EXPECT_TRUE(BuildHttpResponse(299, "").starts_with("HTTP/1.1 299 Status\r\n"));
}

} // namespace
} // namespace devsim
