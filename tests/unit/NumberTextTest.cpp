// The leading-number rule and the dotted-address parser built on it.
#include "app/DottedQuad.h"
#include "app/LeadingInt.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct IntCase {
    const wchar_t* text;
    std::int32_t value;
};

class LeadingIntCases : public testing::TestWithParam<IntCase> {};

TEST_P(LeadingIntCases, ReadsLikeAtoi)
{
    EXPECT_EQ(LeadingInt(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Cases, LeadingIntCases,
                         testing::Values(IntCase{L"", 0}, IntCase{L"abc", 0}, IntCase{L"80", 80},
                                         IntCase{L"80abc", 80}, IntCase{L"  \t554", 554},
                                         IntCase{L"-12", -12}, IntCase{L"+7", 7},
                                         IntCase{L"- 7", 0}, IntCase{L"12 34", 12},
                                         IntCase{L"4.1", 4}, IntCase{L"2147483647", 2147483647},
                                         IntCase{L"99999999999999999999", 2147483647},
                                         IntCase{L"-2147483648", -2147483647 - 1},
                                         IntCase{L"-99999999999999999999", -2147483647 - 1}));

struct QuadCase {
    const wchar_t* text;
    std::uint32_t value;
};

class DottedQuadCases : public testing::TestWithParam<QuadCase> {};

TEST_P(DottedQuadCases, PutsFirstOctetInTheHighByte)
{
    EXPECT_EQ(ParseDottedQuad(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DottedQuadCases,
    testing::Values(QuadCase{L"1.2.3.4", 0x01020304u}, QuadCase{L"", 0u},
                    QuadCase{L"255.255.255.0", 0xFFFFFF00u},
                    QuadCase{L"192.168.1.100", 0xC0A80164u},
                    // Parts keep their low 8 bits only: 256 gives 0, 300 gives 44, -1 gives 255.
                    QuadCase{L"256.1.1.1", 0x00010101u}, QuadCase{L"10.300.0.1", 0x0A2C0001u},
                    QuadCase{L"-1.0.0.0", 0xFF000000u},
                    // Fewer dots leave the missing parts 0; the last part takes the rest.
                    QuadCase{L"10.1", 0x0A010000u}, QuadCase{L"7", 0x07000000u},
                    QuadCase{L"1.2.3.4.5", 0x01020304u}, QuadCase{L" 1. 2. 3. 4", 0x01020304u}));

} // namespace
