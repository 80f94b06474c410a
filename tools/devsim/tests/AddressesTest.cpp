#include "Addresses.h"

#include <gtest/gtest.h>

namespace devsim {
namespace {

TEST(Addresses, DottedQuadIsStrict)
{
    struct Case {
        const char* text;
        std::optional<std::uint32_t> expected;
    };
    const Case cases[] = {
        {"10.77.0.5", 0x0A4D0005u},
        {"0.0.0.0", 0u},
        {"255.255.255.255", 0xFFFFFFFFu},
        {"10.77.0", std::nullopt},
        {"10.77.0.5.1", std::nullopt},
        {"10.77.0.256", std::nullopt},
        {"10.77..5", std::nullopt},
        {"10.77.0.5 ", std::nullopt},
        {"+10.77.0.5", std::nullopt},
        {"10.77.0.-5", std::nullopt},
        {"10.77.0.0005", std::nullopt},
        {"10.77.0.x", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseDottedQuad(c.text), c.expected) << c.text;
    EXPECT_EQ(FormatDottedQuad(0xC0A80A01u), "192.168.10.1");
}

TEST(Addresses, MacIsSixColonSeparatedHexPairs)
{
    EXPECT_EQ(ParseMac("00:1a:2B:3c:4D:ff"), (MacAddress{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xFF}));
    for (const char* bad : {"00:1A:2B:3C:4D", "00-1A-2B-3C-4D-5E", "00:1A:2B:3C:4D:5G",
                            "0:1A:2B:3C:4D:5E:", "00:1A:2B:3C:4D:5E:", ""})
        EXPECT_EQ(ParseMac(bad), std::nullopt) << bad;
    EXPECT_EQ(FormatMac({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xFF}), "00:1A:2B:3C:4D:FF");
}

TEST(Addresses, PrefixLengthOnlyForContiguousMasks)
{
    EXPECT_EQ(PrefixLength(0xFFFFFF00u), 24);
    EXPECT_EQ(PrefixLength(0xFFFF0000u), 16);
    EXPECT_EQ(PrefixLength(0xFFFFFFFFu), 32);
    EXPECT_EQ(PrefixLength(0u), 0);
    EXPECT_EQ(PrefixLength(0xFFFFFE00u), 23);
    EXPECT_EQ(PrefixLength(0xFF00FF00u), std::nullopt);
    EXPECT_EQ(PrefixLength(0x00FFFFFFu), std::nullopt);
}

} // namespace
} // namespace devsim
