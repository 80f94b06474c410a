#include "framework/CommandLine.h"

#include <gtest/gtest.h>

namespace {

struct TailCase {
    const wchar_t* commandLine;
    const wchar_t* tail;
};

class CommandLineTail : public testing::TestWithParam<TailCase> {};

TEST_P(CommandLineTail, KeepsWhatFollowsProgramNameAndBlanks)
{
    EXPECT_EQ(fw::CommandLineTail(GetParam().commandLine), GetParam().tail);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineTail,
    testing::Values(TailCase{L"Tessarin.exe", L""}, TailCase{L"Tessarin.exe -Soft", L"-Soft"},
                    TailCase{L"Tessarin.exe    \t -Soft", L"-Soft"},
                    TailCase{L"Tessarin.exe -Soft ", L"-Soft "},
                    TailCase{L"Tessarin.exe -Soft -x", L"-Soft -x"},
                    TailCase{L"\"C:\\Program Files\\Tessarin.exe\" -Soft", L"-Soft"},
                    TailCase{L"\"C:\\My Tools\\Tessarin.exe\"", L""},
                    // A quoted name running into more text is still one name, as Windows reads it.
                    TailCase{L"\"C:\\a b\"c.exe -Soft", L"-Soft"},
                    TailCase{L"\"unterminated -Soft", L""}, TailCase{L"", L""}));

} // namespace
