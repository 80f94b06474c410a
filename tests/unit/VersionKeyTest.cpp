// Sort keys of firmware versions: how a text splits into four bytes, and how keys rank.
#include "controls/VersionKey.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace {

constexpr std::uint32_t Key(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d)
{
    return a << 24 | b << 16 | c << 8 | d;
}

struct SplitCase {
    std::wstring_view text;
    std::uint32_t key;
};

TEST(VersionKey, SplitsTextIntoFourBytes)
{
    const SplitCase cases[] = {
        {L"4.1.46.5", Key(4, 1, 46, 5)},
        {L"255.255.255.255", Key(255, 255, 255, 255)},
        {L"0.0.0.0", 0},
        // Without a dot every search fails, so the last part is the whole text.
        {L"12", 12},
        // The third search restarts at the beginning and finds the first dot again.
        {L"4.1", Key(4, 0, 4, 1)},
        // Two dots: the third search fails, so the last part is the whole text again.
        {L"4.1.7", Key(4, 1, 0, 4)},
        // Dots past the third belong to the last part, which stops at its first non-digit.
        {L"4.1.46.5.9", Key(4, 1, 46, 5)},
        // Each part by the leading-number rule: blanks, sign, digits up to the first other
        // character, nothing readable giving 0.
        {L" 4. +1.46b.5rc2", Key(4, 1, 46, 5)},
        {L"v4.1.46.5", Key(0, 1, 46, 5)},
        {L"...", 0},
        {L"", 0},
        {L"garbage", 0},
        // Only the low 8 bits of a part count.
        {L"4.1.256.0", Key(4, 1, 0, 0)},
        {L"4.1.300.0", Key(4, 1, 44, 0)},
        {L"-1.0.0.0", Key(255, 0, 0, 0)},
        // Beyond the 32-bit range the number stops at its end before it is cut.
        {L"99999999999.0.0.0", Key(255, 0, 0, 0)},
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(VersionKey(c.text), c.key) << std::wstring(c.text);
    }
}

struct RankCase {
    std::wstring_view lower;
    std::wstring_view higher;
};

TEST(VersionKey, RanksVersionsByNumberNotByText)
{
    const RankCase cases[] = {
        {L"4.1.9.5", L"4.1.46.5"},  {L"4.1.46.5", L"4.2.0.0"}, {L"3.255.255.255", L"4.0.0.0"},
        {L"4.1.46.4", L"4.1.46.5"}, {L"12", L"0.0.1.0"},       {L"", L"0.0.0.1"},
    };
    for (const RankCase& c : cases) {
        EXPECT_LT(VersionKey(c.lower), VersionKey(c.higher))
            << std::wstring(c.lower) << " < " << std::wstring(c.higher);
    }
    EXPECT_EQ(VersionKey(L"4.1.256.0"), VersionKey(L"4.1.0.0"));
}

} // namespace
