// Applying with administrator rights, with the real programs: the elevated
// instance applies what its window hands it over the pipe, and refuses a
// pipe that its parent did not create.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.h"

namespace tessaloom::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(Elevation, TheElevatedInstanceAppliesWhatItsWindowListedAndTheWindowStartsTheMainProgram) {
    Sandbox sandbox;
    sandbox.WriteUpdateList("path\r\none.dll\r\ntwo.dll\r\n");
    sandbox.WriteNewFile(L"one.dll", "new one");
    sandbox.WriteNewFile(L"two.dll", "new two");
    sandbox.WriteAppFile(L"two.dll", "old two");
    const std::wstring parent = sandbox.app + L"\\elevated_parent.exe";
    ASSERT_TRUE(CopyFileW(TESSALOOM_ELEVATED_PARENT_EXE, parent.c_str(), FALSE));

    UpdaterRun run(parent, L" " + sandbox.MainProgram(), sandbox.app);
    EXPECT_EQ(run.WaitForExit(), 0U);
    EXPECT_EQ(ReadBytes(sandbox.app + L"\\one.dll"), "new one");
    EXPECT_EQ(ReadBytes(sandbox.app + L"\\two.dll"), "new two");
    EXPECT_EQ(ReadBytes(sandbox.app + L"\\OLDtwo.dll"), "old two");
    EXPECT_EQ(sandbox.Starts(1).size(), 1U);
    const std::string shown = ReadBytes(sandbox.app + L"\\parent.log");
    EXPECT_THAT(shown, HasSubstr("fill 0\nfill 0\nfill 952\nfill 1905\n")) << "the bar followed the elevated instance";
    EXPECT_THAT(shown, HasSubstr("Tessaloom updated with success"));
    const std::string log = ReadBytes(sandbox.UpdateFolder() + L"\\TessaloomUpdate.log");
    EXPECT_THAT(log, HasSubstr("Applied with administrator rights"));
    EXPECT_THAT(log, HasSubstr("two.dll: backed up as OLDtwo.dll\r\ntwo.dll: new file in place\r\n"));
}

// A pipe served by this test, not by an updater: whoever it names as the
// parent, the updater reads no plan from it and changes nothing.
TEST(Elevation, TheElevatedModeRefusesAPipeItsOwnParentDidNotCreate) {
    for (const bool namesThisProcess : {true, false}) {
        SCOPED_TRACE(namesThisProcess);
        Sandbox sandbox;
        sandbox.WriteNewFile(L"one.dll", "new one");
        const std::wstring name = L"\\\\.\\pipe\\TessaloomUpdate.test." + std::to_wstring(GetCurrentProcessId());
        HANDLE pipe = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1,
                                       65536, 65536, 0, nullptr);
        ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
        const DWORD parent = namesThisProcess ? GetCurrentProcessId() : GetCurrentProcessId() + 4;
        UpdaterRun run(sandbox.app + L"\\TessaloomUpdate.exe", L" |elevated " + name + L" " + std::to_wstring(parent),
                       sandbox.app);
        // The plan is waiting in the pipe before the updater can look.
        ConnectNamedPipe(pipe, nullptr);
        DWORD written = 0;
        const std::wstring folder = sandbox.UpdateFolder();  // ASCII
        const std::string plan =
            std::string("plan\0", 5) + std::string(folder.begin(), folder.end()) + std::string("\0one.dll", 8);
        WriteFile(pipe, plan.data(), static_cast<DWORD>(plan.size()), &written, nullptr);
        EXPECT_EQ(run.WaitForExit(), 5U) << "access denied";
        char reply[256];
        DWORD read = 0;
        EXPECT_FALSE(ReadFile(pipe, reply, sizeof reply, &read, nullptr)) << "nothing reported back";
        CloseHandle(pipe);
        EXPECT_FALSE(IsFile(sandbox.app + L"\\one.dll"));
        EXPECT_THAT(FolderEntries(sandbox.app), ElementsAre(kMainProgram, L"TessaloomUpdate.exe"));
    }
}

}  // namespace
}  // namespace tessaloom::test
