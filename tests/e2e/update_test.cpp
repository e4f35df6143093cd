// The whole job, driven through the real window as a person would.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.h"

namespace tessaloom::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr wchar_t kTitle[] = L"Tessaloom UPDATES";

struct Shown {
    HWND window;
    HWND list;
};

Shown WaitForShown(UpdaterRun& run) {
    HWND window = run.WaitForWindow(kTitle);
    EXPECT_NE(window, nullptr) << "the window did not appear";
    return {window, window ? FindChild(window, L"ListBox") : nullptr};
}

// Presses "Update", dismisses the message it brings and waits for the end.
void UpdateAndAcceptTheMessage(UpdaterRun& run, HWND window) {
    Click(FindChild(window, L"Button", L"Update"));
    HWND box = run.WaitForMessageBox();
    ASSERT_NE(box, nullptr) << "no message appeared";
    DismissMessageBox(box);
    EXPECT_EQ(run.WaitForExit(), 0U);
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

TEST(Update, AppliesEveryPendingFileReportsThenStartsTheMainProgram) {
    Sandbox sandbox;
    sandbox.WriteUpdateList("\\\\server\\share\r\none.dll\r\ntwo.dll\r\nthree.dat\r\n");
    sandbox.WriteNewFile(L"one.dll", "new one");
    sandbox.WriteNewFile(L"two.dll", "new two");
    sandbox.WriteNewFile(L"three.dat", std::string(4 << 20, 'x'));
    sandbox.WriteAppFile(L"two.dll", "current two");
    sandbox.WriteAppFile(L"OLDtwo.dll", "older two");

    UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
    const Shown shown = WaitForShown(run);
    ASSERT_NE(shown.list, nullptr);
    EXPECT_THAT(ListBoxLines(shown.list), ElementsAre(L"one.dll", L"two.dll", L"three.dat"));
    EXPECT_THAT(sandbox.Starts(), IsEmpty()) << "nothing starts before a choice";

    Click(FindChild(shown.window, L"Button", L"Update"));
    HWND box = run.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(WindowText(box), L"UpdateTessaloom");
    EXPECT_EQ(MessageBoxText(box), L"Tessaloom updated with success");
    EXPECT_THAT(sandbox.Starts(), IsEmpty()) << "the message comes before the main program starts";
    DismissMessageBox(box);
    EXPECT_EQ(run.WaitForExit(), 0U);

    const std::vector<StartRecord> starts = sandbox.Starts(1);
    ASSERT_EQ(starts.size(), 1U);
    EXPECT_EQ(starts[0].commandLine, Quoted(sandbox.MainProgram()));
    EXPECT_EQ(starts[0].workingFolder, sandbox.app);
    EXPECT_EQ(ReadBytes(sandbox.app + L"\\one.dll"), "new one");
    EXPECT_EQ(ReadBytes(sandbox.app + L"\\two.dll"), "new two");
    EXPECT_EQ(ReadBytes(sandbox.app + L"\\OLDtwo.dll"), "current two");
    EXPECT_EQ(ReadBytes(sandbox.app + L"\\three.dat").size(), 4U << 20);
    EXPECT_THAT(FolderEntries(sandbox.app), ElementsAre(L"OLDtwo.dll", kMainProgram, L"TessaloomUpdate.exe", L"one.dll",
                                                        L"started.log", L"three.dat", L"two.dll"));
}

TEST(Update, CancelAndTheCloseBoxTouchNoFile) {
    Sandbox sandbox;
    sandbox.WriteUpdateList("path\r\none.dll\r\n");
    sandbox.WriteNewFile(L"one.dll", "new one");
    {
        UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
        const Shown shown = WaitForShown(run);
        PostMessageW(shown.window, WM_CLOSE, 0, 0);
        EXPECT_EQ(run.WaitForExit(), 0U);
        EXPECT_THAT(sandbox.Starts(), IsEmpty()) << "the close box starts nothing";
    }
    {
        UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
        const Shown shown = WaitForShown(run);
        Click(FindChild(shown.window, L"Button", L"Cancel"));
        EXPECT_EQ(run.WaitForExit(), 0U);
        EXPECT_EQ(sandbox.Starts(1).size(), 1U);
    }
    EXPECT_FALSE(IsFile(sandbox.app + L"\\one.dll"));
}

TEST(Update, ListsOnlyOrdinaryPlainFilesThatArePresent) {
    Sandbox sandbox;
    sandbox.WriteUpdateList(
        "path\r\nshown.dll\r\nhidden.dll\r\nsystem.dll\r\nabsent.dll\r\n..\\..\\escape.dll\r\n\r\n"
        "plugins\\x.dll\r\nshown.dll\r\n");
    for (const wchar_t* name : {L"shown.dll", L"hidden.dll", L"system.dll", L"plugins\\x.dll"}) {
        sandbox.WriteNewFile(name, "new");
    }
    SetFileAttributesW((sandbox.UpdateFolder() + L"\\hidden.dll").c_str(), FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesW((sandbox.UpdateFolder() + L"\\system.dll").c_str(), FILE_ATTRIBUTE_SYSTEM);
    WriteBytes(sandbox.documents + L"\\escape.dll", "outside");
    sandbox.WriteAppFile(L"plugins\\x.dll", "old plugin");

    UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
    const Shown shown = WaitForShown(run);
    ASSERT_NE(shown.list, nullptr);
    EXPECT_THAT(ListBoxLines(shown.list), ElementsAre(L"shown.dll", L"plugins\\x.dll", L"shown.dll"));
    UpdateAndAcceptTheMessage(run, shown.window);
    EXPECT_EQ(ReadBytes(sandbox.app + L"\\plugins\\x.dll"), "new");
    EXPECT_EQ(ReadBytes(sandbox.app + L"\\plugins\\OLDx.dll"), "old plugin");
    EXPECT_EQ(ReadBytes(sandbox.app + L"\\shown.dll"), "new");
    EXPECT_FALSE(IsFile(sandbox.app + L"\\OLDshown.dll")) << "a name listed twice is applied once";
    EXPECT_FALSE(IsFile(sandbox.root + L"\\escape.dll"));
}

TEST(Update, OnlyTheNetworkPathShowsAnEmptyListAndUpdateJustStarts) {
    Sandbox sandbox;
    sandbox.WriteUpdateList("\\\\server\\share\\updates");
    UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
    const Shown shown = WaitForShown(run);
    ASSERT_NE(shown.list, nullptr);
    EXPECT_THAT(ListBoxLines(shown.list), IsEmpty());
    Click(FindChild(shown.window, L"Button", L"Update"));
    EXPECT_EQ(run.WaitForExit(), 0U) << "no message when nothing was applied";
    EXPECT_EQ(sandbox.Starts(1).size(), 1U);
}

TEST(Update, ANewFileLockedForGoodFailsTheWholeUpdateAndChangesNothing) {
    Sandbox sandbox;
    sandbox.WriteUpdateList("path\r\nfirst.dll\r\nlocked.dll\r\nlast.dll\r\n");
    for (const wchar_t* name : {L"first.dll", L"locked.dll", L"last.dll"}) {
        sandbox.WriteNewFile(name, "new");
    }
    sandbox.WriteAppFile(L"locked.dll", "current locked");
    sandbox.WriteAppFile(L"last.dll", "current last");
    // Held open without sharing by this process, another process than the updater.
    HANDLE held = CreateFileW((sandbox.UpdateFolder() + L"\\locked.dll").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
    const Shown shown = WaitForShown(run);
    Click(FindChild(shown.window, L"Button", L"Update"));
    HWND box = run.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(WindowText(box), L"Setup");
    EXPECT_THAT(MessageBoxText(box), HasSubstr(L"Run-time error '32'"));
    DismissMessageBox(box);
    EXPECT_TRUE(run.WaitForExit().has_value());
    CloseHandle(held);

    EXPECT_THAT(sandbox.Starts(), IsEmpty());
    EXPECT_EQ(ReadBytes(sandbox.app + L"\\locked.dll"), "current locked");
    EXPECT_EQ(ReadBytes(sandbox.app + L"\\last.dll"), "current last");
    EXPECT_THAT(FolderEntries(sandbox.app),
                ElementsAre(kMainProgram, L"TessaloomUpdate.exe", L"last.dll", L"locked.dll"));
    // The log beside the list says why, in UTF-8 after its byte-order mark.
    const std::string log = ReadBytes(sandbox.UpdateFolder() + L"\\TessaloomUpdate.log");
    EXPECT_THAT(log, ::testing::ContainsRegex("^\xEF\xBB\xBFTessaloomUpdate \\d\\.\\d+\\.\\d+, update started "
                                              "\\d\\d\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC.\\d\\d:\\d\\d\r\n"));
    EXPECT_THAT(log, HasSubstr("Retry in 1000 ms: "));
    EXPECT_THAT(log, HasSubstr("Update failed: error 32: "));
}

TEST(Update, FoldersTheAnsiCodePageCannotSpellWork) {
    Sandbox sandbox(L"\u6587\u5b57-\u0416-\U0001F600");
    sandbox.WriteUpdateList("path\r\none.dll\r\n");
    sandbox.WriteNewFile(L"one.dll", "new one");
    UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
    const Shown shown = WaitForShown(run);
    ASSERT_NE(shown.list, nullptr);
    EXPECT_THAT(ListBoxLines(shown.list), ElementsAre(L"one.dll"));
    UpdateAndAcceptTheMessage(run, shown.window);
    EXPECT_EQ(ReadBytes(sandbox.app + L"\\one.dll"), "new one");
    const std::vector<StartRecord> starts = sandbox.Starts(1);
    ASSERT_EQ(starts.size(), 1U);
    EXPECT_EQ(starts[0].commandLine, Quoted(sandbox.MainProgram()));
}

TEST(Update, AListOf32767NamesWorks) {
    Sandbox sandbox;
    std::string list = "path\r\n";
    for (int i = 1; i <= 32767; ++i) {
        list += "file" + std::to_string(i) + ".bin\r\n";
    }
    sandbox.WriteUpdateList(list);
    sandbox.WriteNewFile(L"file1.bin", "new 1");
    sandbox.WriteNewFile(L"file32767.bin", "new 32767");
    UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
    const Shown shown = WaitForShown(run);
    ASSERT_NE(shown.list, nullptr);
    EXPECT_THAT(ListBoxLines(shown.list), ElementsAre(L"file1.bin", L"file32767.bin"));
    Click(FindChild(shown.window, L"Button", L"Cancel"));
    EXPECT_EQ(run.WaitForExit(), 0U);
}

// The key is made, and the value read, in the registry's 64-bit view, as the
// 64-bit main program and its installer see it: the 32-bit updater runs under
// WOW64 there, and what it writes must not land in a 32-bit view of its own.
// (Document keys below HKEY_CLASSES_ROOT are shared by both views on
// Windows 7 and later; CLSID, say, is not.)
TEST(Registry, TheOpenCommandIsWrittenOnlyIntoAnExistingKeyThatA64BitProgramReads) {
    Sandbox sandbox;
    const std::wstring key = sandbox.app + L"\\TessaloomUpdate.Document\\shell\\open\\command";
    {
        UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
        EXPECT_EQ(run.WaitForExit(), 0U);
        HKEY opened = nullptr;
        EXPECT_NE(RegOpenKeyExW(HKEY_CLASSES_ROOT, (sandbox.app).c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &opened),
                  ERROR_SUCCESS)
            << "no key is created";
    }
    HKEY created = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                              &created, nullptr),
              ERROR_SUCCESS);
    const wchar_t kept[] = L"kept";
    RegSetValueExW(created, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kept), sizeof kept);
    {
        UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
        EXPECT_EQ(run.WaitForExit(), 0U);
    }
    wchar_t value[1024] = {};
    DWORD size = sizeof value;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExW(created, L" ", nullptr, &type, reinterpret_cast<BYTE*>(value), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    const std::wstring command = sandbox.app + L"\\TessaloomUpdate.EXE %1";
    EXPECT_EQ(std::wstring(value), command);
    EXPECT_EQ(size, (command.size() + 1) * sizeof(wchar_t)) << "stored with its terminating NUL";
    size = sizeof value;
    RegQueryValueExW(created, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    EXPECT_EQ(std::wstring(value), L"kept");
    RegCloseKey(created);
    // Remove the key tree again, from its first component, in the view it was made in.
    const std::wstring first = sandbox.app.substr(0, sandbox.app.find(L'\\'));
    HKEY top = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, first.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &top) == ERROR_SUCCESS) {
        RegDeleteTreeW(top, nullptr);
        RegCloseKey(top);
        RegDeleteKeyExW(HKEY_CLASSES_ROOT, first.c_str(), KEY_WOW64_64KEY, 0);
    }
}

}  // namespace
}  // namespace tessaloom::test
