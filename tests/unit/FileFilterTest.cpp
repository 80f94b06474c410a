#include "framework/FileFilter.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

TEST(FilterForOpenDialog, SeparatesPairsWithNulsAndEndsWithTwo)
{
    EXPECT_EQ(fw::FilterForOpenDialog(L"All (*.*)|*.*|Packages|*.package||"),
              L"All (*.*)\0*.*\0Packages\0*.package\0\0"s);
}

TEST(FilterForOpenDialog, AddsMissingTerminators)
{
    EXPECT_EQ(fw::FilterForOpenDialog(L"All|*.*"), L"All\0*.*\0\0"s);
    EXPECT_EQ(fw::FilterForOpenDialog(L"All|*.*|"), L"All\0*.*\0\0"s);
    EXPECT_EQ(fw::FilterForOpenDialog(L""), L"\0\0"s);
}

} // namespace
