#include "upgrade/PackageName.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {

TEST(PackageTitle, IsTheFileNameWithoutItsLastExtension)
{
    EXPECT_EQ(ExtractPackageTitle("C:\\fw\\HX_4.1_v2.package"), "HX_4.1_v2");
    EXPECT_EQ(ExtractPackageTitle("C:\\fw.d\\HX_4.1_v2"), "HX_4");      // the name's own dot
    EXPECT_EQ(ExtractPackageTitle("C:\\fw.d\\HXnodot"), "HXnodot");     // a dot of the folder
    EXPECT_EQ(ExtractPackageTitle("/tmp/a_b_c.FLS"), "a_b_c");
    EXPECT_EQ(ExtractPackageTitle("plain.bin"), "plain");
    EXPECT_EQ(ExtractPackageTitle("C:\\dir\\"), "");
}

TEST(PackageName, MatchesFirmwareByItsTwoLeadingParts)
{
    const struct {
        const wchar_t* title;
        const wchar_t* firmware;
        bool matches;
    } cases[] = {
        {L"HX_4.1_build7", L"4.1.46.5+HX200", true},
        {L"HX_4.1_build7", L"4.2.0.1+HX200", false},   // S must start the version
        {L"HX_4.1_build7", L"4.1.46.5+HY200", false},  // P must start the text after "+"
        {L"HX_4.1_build7", L"4.1.46.5", false},        // no "+": P compared with the start
        {L"4_4.1_x", L"4.1.46.5", true},               // ... which may well match
        {L"nounderscore", L"anything", true},          // P and S empty
        {L"HX_4.1", L"4.1+HX", true},                  // one "_": S empty, only P compared
        {L"HX_4.1", L"4.1+HY", false},
        {L"HX_4.1.46.5.1_x", L"4.1+HX", false},        // firmware shorter than S
        {L"hx_4.1_x", L"4.1+HX", false},               // case counts
    };
    for (const auto& c : cases)
        EXPECT_EQ(PackageNameMatches(c.title, c.firmware), c.matches)
            << static_cast<const void*>(c.title);
}

TEST(AnsiField, KeepsTextThatFitsAndCutsTheRest)
{
    std::array<char, 40> field;
    field.fill('x');
    CopyAnsiField("10.77.1.10", field);
    EXPECT_STREQ(field.data(), "10.77.1.10");
    EXPECT_EQ(field[39], '\0');

    const std::string long39(39, 'a');
    CopyAnsiField(long39, field);
    EXPECT_EQ(std::strlen(field.data()), 39u);
    CopyAnsiField(std::string(60, 'b'), field);
    EXPECT_EQ(std::strlen(field.data()), 39u);
    EXPECT_EQ(field[39], '\0');
}

} // namespace
