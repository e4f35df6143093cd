// The real updater under faults: killed while staging and while committing,
// a file locked for a moment and for good, a full disk, two updaters at
// once, "Update" again on a later start, a planted list. After each, once the
// updater has started again, every file of the application folder is
// all-old or all-new and no working file is left.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <thread>

#include "harness.h"
#include "services/process.h"

namespace tessaloom::test {
namespace {

using ::testing::IsEmpty;
using Files = std::map<std::wstring, std::string>;

constexpr wchar_t kTitle[] = L"Tessaloom UPDATES";

// The application folder without the programs and what the main program writes.
Files Installed(const Sandbox& sandbox) {
    Files files = FolderFiles(sandbox.app);
    files.erase(kMainProgram);
    files.erase(L"TessaloomUpdate.exe");
    files.erase(L"started.log");
    return files;
}

// Five new files f1..f5, each with a current file a quarter its size; f1
// also has an earlier backup.
struct Update {
    Files before;
    Files after;

    explicit Update(const Sandbox& sandbox, std::size_t size = 2 << 20) {
        std::string list = "path\r\n";
        for (char i = '1'; i <= '5'; ++i) {
            const std::wstring name = std::wstring(L"f") + static_cast<wchar_t>(i) + L".dll";
            list += std::string("f") + i + ".dll\r\n";
            const std::string fresh(size, i);
            const std::string old(size / 4, i);
            sandbox.WriteNewFile(name, fresh);
            sandbox.WriteAppFile(name, old);
            before[name] = old;
            after[name] = fresh;
            after[L"OLD" + name] = old;
        }
        sandbox.WriteAppFile(L"OLDf1.dll", "older");
        before[L"OLDf1.dll"] = "older";
        sandbox.WriteUpdateList(list);
    }
};

HANDLE Lock(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << "cannot lock";
    return file;
}

HWND ShowAndPressUpdate(UpdaterRun& run) {
    HWND window = run.WaitForWindow(kTitle);
    EXPECT_NE(window, nullptr) << "the window did not appear";
    if (window != nullptr) {
        Click(FindChild(window, L"Button", L"Update"));
    }
    return window;
}

// Starts the updater again; once its window is up, whatever was interrupted
// has been finished or undone. Cancel then ends it.
void StartAgainAndCancel(const Sandbox& sandbox) {
    UpdaterRun again(sandbox, L" " + sandbox.MainProgram());
    HWND window = again.WaitForWindow(kTitle);
    ASSERT_NE(window, nullptr);
    Click(FindChild(window, L"Button", L"Cancel"));
    EXPECT_TRUE(again.WaitForExit().has_value());
}

struct Kill {
    const char* when;
    const wchar_t* locked;  // in the application folder, held open so the updater waits there
    std::function<bool(const Sandbox&)> reached;
    bool allNew;  // what the next start makes of it
};

TEST(Faults, KilledWhileStagingOrCommittingItEndsAllOldOrAllNewAtTheNextStart) {
    const Kill kills[] = {
        {"staging f3", L"f3.dll.tessaloom-new",
         [](const Sandbox& s) { return IsFile(s.app + L"\\f2.dll.tessaloom-new"); }, false},
        {"committing f3", L"f3.dll",
         [](const Sandbox& s) { return !IsFile(s.app + L"\\f2.dll.tessaloom-new") && IsFile(s.app + L"\\OLDf2.dll"); },
         true},
    };
    for (const Kill& kill : kills) {
        SCOPED_TRACE(kill.when);
        Sandbox sandbox;
        const Update update(sandbox);
        const std::wstring locked = sandbox.app + L"\\" + kill.locked;
        if (!IsFile(locked)) {
            WriteBytes(locked, "left by an earlier run");
        }
        HANDLE held = Lock(locked);
        {
            UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
            ShowAndPressUpdate(run);
            ASSERT_TRUE(WaitFor(std::chrono::seconds(10), [&] { return kill.reached(sandbox); }));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));  // it is waiting out the lock
            run.Kill();
        }
        CloseHandle(held);
        StartAgainAndCancel(sandbox);
        EXPECT_EQ(Installed(sandbox), kill.allNew ? update.after : update.before);
    }
}

TEST(Faults, ALockOfAMomentIsWaitedOutAndAFullDiskChangesNothing) {
    {
        Sandbox sandbox;
        const Update update(sandbox);
        HANDLE held = Lock(sandbox.app + L"\\f3.dll");
        std::thread release([held] {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            CloseHandle(held);
        });
        UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
        ShowAndPressUpdate(run);
        HWND box = run.WaitForMessageBox();
        release.join();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageBoxText(box), L"Tessaloom updated with success");
        DismissMessageBox(box);
        EXPECT_TRUE(run.WaitForExit().has_value());
        EXPECT_EQ(Installed(sandbox), update.after);
    }
    const std::wstring small = std::wstring(TESSALOOM_BUILD_DIR) + L"\\thin-drive\\full";
    if (!IsFile(small + L"\\mounted")) {
        GTEST_SKIP() << "no small drive here (it needs root)";
    }
    Sandbox sandbox(L"full", small);
    const Update update(sandbox);  // 12.5 MiB of new and old files: no room on 16 MiB to stage them all
    UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
    ShowAndPressUpdate(run);
    HWND box = run.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_THAT(MessageBoxText(box), ::testing::HasSubstr(L"Run-time error '112'"));
    DismissMessageBox(box);
    EXPECT_TRUE(run.WaitForExit().has_value());
    EXPECT_EQ(Installed(sandbox), update.before);
    EXPECT_THAT(sandbox.Starts(), IsEmpty());
}

TEST(Faults, ASecondUpdaterStepsAsideAndUpdatingAgainKeepsTheGenuineBackups) {
    Sandbox sandbox;
    const Update update(sandbox);
    UpdaterRun first(sandbox, L" " + sandbox.MainProgram());
    HWND window = first.WaitForWindow(kTitle);
    ASSERT_NE(window, nullptr);
    UpdaterRun second(sandbox, L" " + sandbox.MainProgram());
    EXPECT_EQ(second.WaitForExit(), 0U);
    EXPECT_FALSE(second.ShowedAWindow());
    EXPECT_THAT(sandbox.Starts(), IsEmpty()) << "the second one starts nothing";

    Click(FindChild(window, L"Button", L"Update"));
    HWND box = first.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    DismissMessageBox(box);
    EXPECT_TRUE(first.WaitForExit().has_value());
    EXPECT_EQ(Installed(sandbox), update.after);

    // The list is still there at the next start; "Update" again keeps every backup.
    UpdaterRun again(sandbox, L" " + sandbox.MainProgram());
    ShowAndPressUpdate(again);
    box = again.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    DismissMessageBox(box);
    EXPECT_TRUE(again.WaitForExit().has_value());
    EXPECT_EQ(Installed(sandbox), update.after);
    EXPECT_EQ(sandbox.Starts(2).size(), 2U);
}

// Another program of the session holds the name updaters step aside for and
// answers on it, as an updater would: it does not run the updater's image,
// so the updater goes on, applies and starts the main program.
TEST(Faults, AClaimSquattedByAnotherProgramKeepsNothingFromStarting) {
    Sandbox sandbox;
    const Update update(sandbox);
    HANDLE squat = CreateNamedPipeW(ClaimPipeName(sandbox.app).c_str(),
                                    PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
                                    PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr);
    ASSERT_NE(squat, INVALID_HANDLE_VALUE);
    HANDLE answered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED overlapped{};
    overlapped.hEvent = answered;
    EXPECT_FALSE(ConnectNamedPipe(squat, &overlapped));
    UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
    ShowAndPressUpdate(run);
    HWND box = run.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    DismissMessageBox(box);
    EXPECT_TRUE(run.WaitForExit().has_value());
    EXPECT_EQ(WaitForSingleObject(answered, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "it asked who holds the name";
    EXPECT_EQ(Installed(sandbox), update.after);
    EXPECT_EQ(sandbox.Starts(1).size(), 1U);
    CancelIo(squat);
    CloseHandle(answered);
    CloseHandle(squat);
}

// An updater of another session is committing (its journal says so and it
// holds the folder's lock): this session's start is no recovery of it, shows
// no error and starts the main program, asking nothing.
TEST(Faults, ACommitOfAnotherSessionNeitherStopsNorDelaysThisStart) {
    Sandbox sandbox;
    WriteBytes(sandbox.app + L"\\TessaloomUpdate.journal", "TessaloomUpdate journal 2\r\nphase C\r\nend\r\n");
    HANDLE lock = CreateFileW((sandbox.app + L"\\TessaloomUpdate.lock").c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
    EXPECT_EQ(run.WaitForExit(), 0U);
    EXPECT_FALSE(run.ShowedAWindow());
    EXPECT_EQ(sandbox.Starts(1).size(), 1U);
    EXPECT_TRUE(IsFile(sandbox.app + L"\\TessaloomUpdate.journal")) << "its journal is its own";
    CloseHandle(lock);
}

TEST(Faults, WithoutADocumentsFolderAListPlantedAtTheDriveRootIsIgnored) {
    Sandbox sandbox;
    const DocumentsRedirect nowhere(L"Q:\\nowhere\\docs");
    const std::wstring planted = L"C:\\My TessaloomSaaS Projects\\Update";
    MakeFolders(planted);
    WriteBytes(planted + L"\\TessaloomUpdate.txt", "path\r\nplanted.dll\r\n");
    WriteBytes(planted + L"\\planted.dll", "planted");
    UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
    EXPECT_EQ(run.WaitForExit(), 0U);
    RemoveTree(L"C:\\My TessaloomSaaS Projects");
    EXPECT_FALSE(run.ShowedAWindow());
    EXPECT_EQ(sandbox.Starts(1).size(), 1U);
    EXPECT_THAT(Installed(sandbox), IsEmpty());
}

// Setups real installs have: a backup whose current file is gone, a
// read-only current file, and an application folder on a FAT or exFAT stick
// (its times rounded) while the update comes from the usual disk.
TEST(Faults, RealInstallsUpdate) {
    struct Case {
        const char* what;
        const wchar_t* drive;  // under the build's drives, or null for the usual disk
        std::function<void(const Sandbox&)> arrange;
        Files after;
    };
    const Files applied = {{L"a.dll", "new a"}, {L"OLDa.dll", "old a"}, {L"b.dll", "new b"}};
    const std::vector<Case> cases = {
        {"orphan backup",
         nullptr,
         [](const Sandbox& s) { s.WriteAppFile(L"OLDa.dll", "older a"); },
         {{L"a.dll", "new a"}, {L"OLDa.dll", "older a"}, {L"b.dll", "new b"}}},
        {"read-only current file", nullptr,
         [](const Sandbox& s) {
             s.WriteAppFile(L"a.dll", "old a");
             SetFileAttributesW((s.app + L"\\a.dll").c_str(), FILE_ATTRIBUTE_READONLY);
         },
         applied},
        {"FAT", L"fat", [](const Sandbox& s) { s.WriteAppFile(L"a.dll", "old a"); }, applied},
        {"exFAT", L"exfat", [](const Sandbox& s) { s.WriteAppFile(L"a.dll", "old a"); }, applied},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring drive =
            c.drive == nullptr ? std::wstring() : std::wstring(TESSALOOM_BUILD_DIR) + L"\\thin-drive\\" + c.drive;
        if (!drive.empty() && !IsFile(drive + L"\\mounted")) {
            std::printf("[  SKIPPED ] %s: no such drive here (it needs root, loop devices and FUSE)\n", c.what);
            continue;
        }
        Sandbox sandbox(L"real", drive);
        Sandbox documents(L"documents");  // the update on the usual disk, whatever drive the install is on
        documents.WriteUpdateList("path\r\na.dll\r\nb.dll\r\n");
        documents.WriteNewFile(L"a.dll", "new a");
        documents.WriteNewFile(L"b.dll", "new b");
        c.arrange(sandbox);
        UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
        ShowAndPressUpdate(run);
        HWND box = run.WaitForMessageBox();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageBoxText(box), L"Tessaloom updated with success");
        DismissMessageBox(box);
        EXPECT_TRUE(run.WaitForExit().has_value());
        EXPECT_EQ(Installed(sandbox), c.after);
        EXPECT_EQ(Attributes(sandbox.app + L"\\OLDa.dll") & FILE_ATTRIBUTE_READONLY, 0U);
        EXPECT_EQ(sandbox.Starts(1).size(), 1U);
    }
}

// Killed mid-commit, then started while a file of the install stays locked:
// the interrupted commit cannot be finished, so the error is shown and the
// main program is not started over the half-changed install. Once the lock
// goes, the next start finishes it.
TEST(Faults, AnInterruptedCommitThatCannotBeFinishedKeepsTheMainProgramFromStarting) {
    Sandbox sandbox;
    const Update update(sandbox);
    HANDLE held = Lock(sandbox.app + L"\\f3.dll");
    {
        UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
        ShowAndPressUpdate(run);
        ASSERT_TRUE(WaitFor(std::chrono::seconds(10), [&] { return IsFile(sandbox.app + L"\\OLDf2.dll"); }));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // it is waiting out the lock
        run.Kill();
    }
    RemoveTree(sandbox.UpdateFolder());  // no list now: the main program would start at once
    {
        UpdaterRun blocked(sandbox, L" " + sandbox.MainProgram());
        HWND box = blocked.WaitForMessageBox();
        ASSERT_NE(box, nullptr);
        EXPECT_THAT(MessageBoxText(box), ::testing::HasSubstr(L"Run-time error '32'"));
        DismissMessageBox(box);
        EXPECT_TRUE(blocked.WaitForExit().has_value());
        EXPECT_THAT(sandbox.Starts(), IsEmpty());
        EXPECT_TRUE(IsFile(sandbox.app + L"\\TessaloomUpdate.journal"));
    }
    CloseHandle(held);
    UpdaterRun again(sandbox, L" " + sandbox.MainProgram());
    EXPECT_EQ(again.WaitForExit(), 0U);
    EXPECT_FALSE(again.ShowedAWindow());
    EXPECT_EQ(sandbox.Starts(1).size(), 1U);
    EXPECT_EQ(Installed(sandbox), update.after);
}

}  // namespace
}  // namespace tessaloom::test
