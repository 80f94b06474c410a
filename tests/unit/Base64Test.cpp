// Base64 of the authorization token: standard alphabet, padding, no line breaks.
#include "http/Base64.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

struct EncodeCase {
    std::string bytes;
    const char* text;
};

class Base64Encoding : public testing::TestWithParam<EncodeCase> {};

TEST_P(Base64Encoding, MatchesKnownText)
{
    const EncodeCase& c = GetParam();
    // One byte more than needed, so a write past the closing NUL shows.
    std::vector<char> out(Base64EncodedSize(c.bytes.size()) + 1, '#');
    Base64Encode(reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size(), out.data());
    EXPECT_STREQ(out.data(), c.text);
    EXPECT_EQ(std::strlen(c.text) + 1, Base64EncodedSize(c.bytes.size()));
    EXPECT_EQ(out.back(), '#');
    EXPECT_EQ(Base64Text(c.bytes), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Base64Encoding,
    testing::Values(
        // RFC 4648 section 10: every length of the last group.
        EncodeCase{"", ""}, EncodeCase{"f", "Zg=="}, EncodeCase{"fo", "Zm8="},
        EncodeCase{"foo", "Zm9v"}, EncodeCase{"foob", "Zm9vYg=="}, EncodeCase{"fooba", "Zm9vYmE="},
        EncodeCase{"foobar", "Zm9vYmFy"},
        // The credential check's token for "admin" with an empty password.
        EncodeCase{"admin:", "YWRtaW46"}, EncodeCase{"admin:12345", "YWRtaW46MTIzNDU="},
        // The last two alphabet characters are the standard ones, not the URL-safe ones.
        EncodeCase{"\xfb\xff", "+/8="}, EncodeCase{"\xff\xff\xff", "////"},
        // Bytes above 0x7F read as unsigned (an ANSI password with accents, say).
        EncodeCase{"\xe9t\xe9", "6XTp"}, EncodeCase{"\0\0"s, "AAA="}, EncodeCase{"a\0b"s, "YQBi"}));

// Decodes standard base64 without line breaks; the test's own reading of the alphabet.
std::string Decode(const std::string& text)
{
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=')
            break;
        const auto value = alphabet.find(c);
        if (value == std::string::npos)
            throw std::runtime_error("not base64");
        bits = bits << 6 | static_cast<unsigned>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes += static_cast<char>(bits >> count & 0xFF);
        }
    }
    return bytes;
}

TEST(Base64Encoding, LongInputStaysOnOneLineAndRoundTrips)
{
    std::string bytes;
    for (int i = 0; i < 3001; ++i)
        bytes += static_cast<char>(i * 7 % 256);
    const std::string text = Base64Text(bytes);
    EXPECT_EQ(text.size(), 4004u);
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 4), "CA=="); // 3000 * 7 % 256 = 8
    EXPECT_EQ(Decode(text), bytes);
}

} // namespace
