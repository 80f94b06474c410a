#include "JsonLog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace devsim {
namespace {

TEST(JsonLog, QuotesWireBytesAsAsciiEscapes)
{
    struct Case {
        std::string bytes;
        const char* expected;
    };
    const Case cases[] = {
        {"IPCAMERA", R"("IPCAMERA")"},
        {"say \"hi\"\\", R"("say \"hi\"\\")"},
        {std::string("a\0b", 3), R"("a\u0000b")"},
        {"\n\t\x1f", R"("\u000a\u0009\u001f")"},
        {"\x7f\x80\xe9\xff", R"("\u007f\u0080\u00e9\u00ff")"}, // ANSI bytes, not UTF-8
        {"", R"("")"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JsonQuoted(c.bytes), c.expected);
}

TEST(JsonLog, HexIsTwoLowerCaseDigitsAByte)
{
    const std::uint8_t bytes[] = {0x00, 0x0A, 0xFF, 0x5E};
    EXPECT_EQ(HexBytes(bytes), "000aff5e");
}

TEST(JsonLog, EachLineIsOneObjectReadableWhileTheLogIsOpen)
{
    char directory[] = "/tmp/devsim-jsonlog-XXXXXX";
    ASSERT_NE(::mkdtemp(directory), nullptr);
    const std::string path = std::string(directory) + "/log.jsonl";
    {
        std::ofstream(path) << "{\"event\":\"earlier run\"}\n";
    }

    JsonLog log;
    ASSERT_TRUE(log.Open(path));
    log.Write(JsonLine("modified").Text("mac", "AA:BB").Number("port", -5).Raw("changes", "{}"));

    std::ifstream file(path); // before the log is closed: every line is flushed
    std::string first, second, rest;
    std::getline(file, first);
    std::getline(file, second);
    EXPECT_EQ(first, "{\"event\":\"earlier run\"}"); // appended, not truncated
    const std::string prefix = R"({"event":"modified","mac":"AA:BB","port":-5,"changes":{},)";
    EXPECT_EQ(second.substr(0, prefix.size()), prefix);
    EXPECT_NE(second.find("\"time_ms\":"), std::string::npos);
    EXPECT_EQ(second.back(), '}');
    EXPECT_FALSE(std::getline(file, rest));

    std::remove(path.c_str());
    ::rmdir(directory);
}

TEST(JsonLog, OpenFailsForAMissingDirectory)
{
    JsonLog log;
    EXPECT_FALSE(log.Open("/nonexistent-devsim-dir/log.jsonl"));
}

} // namespace
} // namespace devsim
