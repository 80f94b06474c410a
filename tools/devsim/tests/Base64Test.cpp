#include "Base64.h"

#include <gtest/gtest.h>

namespace devsim {
namespace {

TEST(Base64, DecodesPaddedGroups)
{
    struct Case {
        const char* text;
        std::string bytes;
    };
    const Case cases[] = {
        {"", ""},
        {"YQ==", "a"},
        {"YWI=", "ab"},
        {"YWJj", "abc"},
        {"YWRtaW46YWRtaW4=", "admin:admin"},
        {"YWRtaW46", "admin:"},
        // ANSI bytes above 0x7F, as the tool encodes non-ASCII user names.
        {"b3DpcmF0ZXVyOnPpY3JldA==", "op\xe9rateur:s\xe9"
                                     "cret"},
        {"+/+/", "\xfb\xff\xbf"},
    };
    for (const Case& c : cases) {
        const auto decoded = DecodeBase64(c.text);
        ASSERT_TRUE(decoded) << c.text;
        EXPECT_EQ(*decoded, c.bytes) << c.text;
    }
}

TEST(Base64, RejectsWhatNoCorrectEncoderWrites)
{
    const char* texts[] = {
        "YQ",       // padding left out
        "YQ=",      // length not a multiple of 4
        "Y===",     // three padding characters
        "YQ==YQ==", // padding inside
        "YR==",     // spare bits not zero
        "YWJ=",     // spare bits not zero
        "YW J",     // blank
        "YWI-",     // URL-safe alphabet
        "YW_j",     "====",
    };
    for (const char* text : texts)
        EXPECT_FALSE(DecodeBase64(text)) << text;
}

} // namespace
} // namespace devsim
