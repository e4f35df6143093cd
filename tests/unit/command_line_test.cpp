#include "app/command_line.h"

#include <gtest/gtest.h>

namespace tessaloom {
namespace {

TEST(AfterProgramName, SkipsTheProgramNameAsWindowsDelimitsIt) {
    EXPECT_EQ(AfterProgramName(LR"("C:\Program Files\Up.exe" C:\a b.exe)"), LR"( C:\a b.exe)");
    EXPECT_EQ(AfterProgramName(LR"(C:\Up.exe C:\a b.exe)"), LR"( C:\a b.exe)");
    EXPECT_EQ(AfterProgramName(LR"(C:\Up.exe)"), L"");
    EXPECT_EQ(AfterProgramName(LR"("C:\Up.exe")"), L"");
    EXPECT_EQ(AfterProgramName(LR"("C:\Up.exe"x y)"), L"x y");
    EXPECT_EQ(AfterProgramName(LR"("unclosed)"), L"");
    EXPECT_EQ(AfterProgramName(L""), L"");
}

TEST(TrimSpaces, TrimsSpacesOnlyNotTabs) {
    EXPECT_EQ(TrimSpaces(L"   a  b   "), L"a  b");
    EXPECT_EQ(TrimSpaces(L"    "), L"");
    EXPECT_EQ(TrimSpaces(L"\ta\t"), L"\ta\t");
}

TEST(SplitArguments, WordsSeparatedByRunsOfSpaces) {
    const ArgumentTable table = SplitArguments(L"  one    two  ");
    ASSERT_EQ(table.CommandArgCount, 2);
    ASSERT_EQ(table.CommandArgs.size(), 3U);
    EXPECT_EQ(table.CommandArgs[0], L"");
    EXPECT_EQ(table.CommandArgs[1], L"one");
    EXPECT_EQ(table.CommandArgs[2], L"two");
}

TEST(SplitArguments, QuotesAreOrdinaryAndTabsDoNotSeparate) {
    const ArgumentTable table = SplitArguments(L"\"C:\\My App\\t.exe\" a\tb");
    ASSERT_EQ(table.CommandArgCount, 3);
    EXPECT_EQ(table.CommandArgs[1], L"\"C:\\My");
    EXPECT_EQ(table.CommandArgs[2], L"App\\t.exe\"");
    EXPECT_EQ(table.CommandArgs[3], L"a\tb");
}

TEST(SplitArguments, EmptyLineKeepsEntriesZeroAndOne) {
    const ArgumentTable table = SplitArguments(L"   ");
    EXPECT_EQ(table.CommandArgCount, 0);
    EXPECT_EQ(table.CommandArgs.size(), 2U);
}

}  // namespace
}  // namespace tessaloom
