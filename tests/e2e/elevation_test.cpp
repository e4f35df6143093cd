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

// The folders' real owner read: Wine makes every folder the user's own, as a
// folder a program of the user prepared would be. The window asks for no
// rights there, says why, starts the main program and changes nothing.
TEST(Elevation, TheWindowAsksForNoRightsOverAFolderOfTheUsers) {
    Sandbox sandbox;
    sandbox.WriteUpdateList("path\r\none.dll\r\n");
    sandbox.WriteNewFile(L"one.dll", "new one");
    const std::wstring parent = sandbox.app + L"\\elevated_parent.exe";
    ASSERT_TRUE(CopyFileW(TESSALOOM_ELEVATED_PARENT_EXE, parent.c_str(), FALSE));
    ASSERT_TRUE(SetEnvironmentVariableW(L"TESSALOOM_TEST_REAL_GUARDS", L"1"));
    UpdaterRun run(parent, L" " + sandbox.MainProgram(), sandbox.app);
    const auto code = run.WaitForExit();
    SetEnvironmentVariableW(L"TESSALOOM_TEST_REAL_GUARDS", nullptr);
    EXPECT_EQ(code, 0U);
    const std::string shown = ReadBytes(sandbox.app + L"\\parent.log");
    EXPECT_THAT(shown, HasSubstr("This update cannot be applied. Administrator rights are used only in a folder that "
                                 "only administrators can change, and " +
                                 std::string(sandbox.app.begin(), sandbox.app.end()) + " is owned by S-1-5-21-"));
    EXPECT_THAT(shown, ::testing::Not(HasSubstr("Run-time error")));
    EXPECT_FALSE(IsFile(sandbox.app + L"\\one.dll"));
    EXPECT_EQ(sandbox.Starts(1).size(), 1U);
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

// The window opens the new files; the elevated instance never installs what
// their paths name once the update folder is swapped for another (a
// junction, in a real attack) after the window opened them. It takes each
// file over by opening it again from the handle: Windows then opens the same
// file, which is installed; Wine opens the path again, finds another file
// there and refuses the update.
TEST(Elevation, TheElevatedInstanceNeverInstallsWhatThePathsOfTheFilesTheWindowOpenedNowName) {
    Sandbox sandbox;
    sandbox.WriteUpdateList("path\r\none.dll\r\ntwo.dll\r\n");
    sandbox.WriteNewFile(L"one.dll", "new one");
    sandbox.WriteNewFile(L"two.dll", "new two");
    sandbox.WriteAppFile(L"two.dll", "old two");
    const std::wstring parent = sandbox.app + L"\\elevated_parent.exe";
    ASSERT_TRUE(CopyFileW(TESSALOOM_ELEVATED_PARENT_EXE, parent.c_str(), FALSE));
    ASSERT_TRUE(SetEnvironmentVariableW(L"TESSALOOM_TEST_SWAP_SOURCES", L"1"));
    UpdaterRun run(parent, L" " + sandbox.MainProgram(), sandbox.app);
    const auto code = run.WaitForExit();
    SetEnvironmentVariableW(L"TESSALOOM_TEST_SWAP_SOURCES", nullptr);
    EXPECT_EQ(code, 0U);
    EXPECT_EQ(ReadBytes(sandbox.UpdateFolder() + L"\\one.dll"), "planted") << "the folder was swapped";
    const std::string shown = ReadBytes(sandbox.app + L"\\parent.log");
    if (shown.find("Tessaloom updated with success") != std::string::npos) {
        EXPECT_EQ(ReadBytes(sandbox.app + L"\\one.dll"), "new one");
        EXPECT_EQ(ReadBytes(sandbox.app + L"\\two.dll"), "new two");
        EXPECT_EQ(ReadBytes(sandbox.app + L"\\OLDtwo.dll"), "old two");
    } else {
        EXPECT_THAT(shown, HasSubstr("a new file handed over is no longer at its place"));
        EXPECT_FALSE(IsFile(sandbox.app + L"\\one.dll"));
        EXPECT_EQ(ReadBytes(sandbox.app + L"\\two.dll"), "old two");
        EXPECT_FALSE(IsFile(sandbox.app + L"\\OLDtwo.dll"));
    }
}

// Whatever the name on its command line, the elevated instance opens nothing
// but a pipe named as ours: it never even connects to another one.
TEST(Elevation, TheElevatedModeOpensNoPipeButOurs) {
    Sandbox sandbox;
    const std::wstring name = L"\\\\.\\pipe\\Foreign." + std::to_wstring(GetCurrentProcessId());
    HANDLE pipe = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 65536, 65536, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    HANDLE connected = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED overlapped{};
    overlapped.hEvent = connected;
    ASSERT_FALSE(ConnectNamedPipe(pipe, &overlapped));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    UpdaterRun run(sandbox.app + L"\\TessaloomUpdate.exe",
                   L" |elevated " + name + L" " + std::to_wstring(GetCurrentProcessId()), sandbox.app);
    EXPECT_EQ(run.WaitForExit(), 5U) << "access denied";
    EXPECT_EQ(WaitForSingleObject(connected, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "it connected";
    CancelIo(pipe);
    CloseHandle(connected);
    CloseHandle(pipe);
}

// A server that runs the updater's own image but is not the process named as
// the parent: the image matches, the process id does not, and the plan it
// offers is never read.
TEST(Elevation, TheElevatedModeRefusesAServerOfItsOwnImageThatIsNotItsParent) {
    Sandbox sandbox;
    sandbox.WriteNewFile(L"one.dll", "new one");
    const std::wstring exe = sandbox.app + L"\\elevated_parent.exe";
    ASSERT_TRUE(CopyFileW(TESSALOOM_ELEVATED_PARENT_EXE, exe.c_str(), FALSE));
    const std::wstring name = L"\\\\.\\pipe\\TessaloomUpdate.rogue." + std::to_wstring(GetCurrentProcessId());
    UpdaterRun server(exe, L" |serve " + name + L" " + sandbox.UpdateFolder(), sandbox.app);
    ASSERT_TRUE(WaitFor(std::chrono::seconds(10), [&] { return WaitNamedPipeW(name.c_str(), 50) != FALSE; }));
    UpdaterRun elevated(exe, L" |elevated " + name + L" " + std::to_wstring(GetCurrentProcessId()), sandbox.app);
    EXPECT_EQ(elevated.WaitForExit(), 5U) << "access denied";
    EXPECT_EQ(server.WaitForExit(), 0U);
    EXPECT_EQ(ReadBytes(sandbox.app + L"\\rogue.log"), "no reply");
    EXPECT_FALSE(IsFile(sandbox.app + L"\\one.dll"));
    EXPECT_FALSE(IsFile(sandbox.app + L"\\TessaloomUpdate.journal"));
}

// Another process of the user connects to the window's pipe before the
// instance the window started: the window hands it nothing and applies nothing.
TEST(Elevation, TheWindowRefusesAClientOfItsPipeThatItDidNotStart) {
    Sandbox sandbox;
    sandbox.WriteUpdateList("path\r\none.dll\r\n");
    sandbox.WriteNewFile(L"one.dll", "new one");
    const std::wstring parent = sandbox.app + L"\\elevated_parent.exe";
    ASSERT_TRUE(CopyFileW(TESSALOOM_ELEVATED_PARENT_EXE, parent.c_str(), FALSE));
    ASSERT_TRUE(SetEnvironmentVariableW(L"TESSALOOM_TEST_ROGUE_CLIENT", L"1"));
    UpdaterRun run(parent, L" " + sandbox.MainProgram(), sandbox.app);
    const auto code = run.WaitForExit();
    SetEnvironmentVariableW(L"TESSALOOM_TEST_ROGUE_CLIENT", nullptr);
    EXPECT_EQ(code, 0U);
    const std::string shown = ReadBytes(sandbox.app + L"\\parent.log");
    EXPECT_THAT(shown, HasSubstr("Run-time error '5'"));
    EXPECT_THAT(shown, HasSubstr("another process connected"));
    EXPECT_FALSE(IsFile(sandbox.app + L"\\rogue.log")) << ReadBytes(sandbox.app + L"\\rogue.log");
    EXPECT_FALSE(IsFile(sandbox.app + L"\\one.dll"));
}

}  // namespace
}  // namespace tessaloom::test
