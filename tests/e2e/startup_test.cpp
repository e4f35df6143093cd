// Start-up and closing of the real updater, with no update list.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.h"

namespace tessaloom::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

TEST(Startup, WithoutATargetEndsAtOnceStartingNothing) {
    Sandbox sandbox;
    for (const wchar_t* arguments : {L"", L"     ", L" \"\"  \"\" "}) {
        UpdaterRun run(sandbox, arguments);
        EXPECT_EQ(run.WaitForExit(), 0U) << "arguments: [" << arguments << "]";
        EXPECT_FALSE(run.ShowedAWindow());
    }
    EXPECT_THAT(sandbox.Starts(), IsEmpty());
}

TEST(Startup, StartsTheMainProgramQuotedFromTheApplicationFolder) {
    Sandbox sandbox;
    const std::wstring expected = L"\"" + sandbox.MainProgram() + L"\"";
    for (const std::wstring& arguments : {L" " + sandbox.MainProgram(), L" \"" + sandbox.MainProgram() + L"\"  "}) {
        UpdaterRun run(sandbox, arguments);
        EXPECT_EQ(run.WaitForExit(), 0U);
        EXPECT_FALSE(run.ShowedAWindow());
    }
    const std::vector<StartRecord> starts = sandbox.Starts(2);
    ASSERT_EQ(starts.size(), 2U);
    for (const StartRecord& start : starts) {
        EXPECT_EQ(start.commandLine, expected);
        EXPECT_EQ(start.workingFolder, sandbox.app);
    }
}

TEST(Startup, ATargetThatCannotStartIsReportedAndNothingElseHappens) {
    Sandbox sandbox;
    UpdaterRun run(sandbox, L" " + sandbox.MainProgram() + L" --argument");
    HWND box = run.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(WindowText(box), L"Setup");
    EXPECT_THAT(MessageBoxText(box), HasSubstr(L"Run-time error '2'"));
    EXPECT_FALSE(run.WaitForExit(std::chrono::milliseconds(200)).has_value()) << "ends only once dismissed";
    DismissMessageBox(box);
    EXPECT_TRUE(run.WaitForExit().has_value());
    EXPECT_THAT(sandbox.Starts(), IsEmpty());
    EXPECT_THAT(FolderEntries(sandbox.app), ElementsAre(kMainProgram, L"TessaloomUpdate.exe"));
}

}  // namespace
}  // namespace tessaloom::test
