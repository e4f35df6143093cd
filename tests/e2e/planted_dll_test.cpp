// DLLs planted in the application folder under the names of system DLLs the
// updater uses (statically or at run time) are never loaded: not at start,
// not on the way to the main program, not during a walk or a screen reader's
// question, not in the elevated instance while it checks signatures. Each
// planted DLL leaves "<name>.loaded" beside it if it is ever loaded.

#include <oleacc.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.h"

namespace tessaloom::test {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const wchar_t* kPlanted[] = {L"version.dll",  L"wintrust.dll", L"crypt32.dll", L"oleacc.dll",
                                       L"comctl32.dll", L"uxtheme.dll",  L"msimg32.dll", L"dwmapi.dll"};

// The test runs with Wine told to prefer a DLL on the search path to its own
// (TESSALOOM_WINE_DLL_OVERRIDES, see tests/CMakeLists.txt), as Windows does.
void Plant(const Sandbox& sandbox) {
    for (const wchar_t* name : kPlanted) {
        ASSERT_TRUE(CopyFileW(TESSALOOM_PLANTED_DLL, (sandbox.app + L"\\" + name).c_str(), FALSE)) << name;
    }
}

std::vector<std::wstring> Loaded(const Sandbox& sandbox) {
    std::vector<std::wstring> loaded;
    for (const std::wstring& name : FolderEntries(sandbox.app)) {
        if (name.ends_with(L".loaded")) {
            loaded.push_back(name);
        }
    }
    return loaded;
}

TEST(PlantedDlls, AreNeverLoadedOnTheWayToTheMainProgramNorDuringAWalk) {
    {
        Sandbox sandbox(L"planted");
        Plant(sandbox);
        UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
        EXPECT_EQ(run.WaitForExit(), 0U);
        EXPECT_EQ(sandbox.Starts(1).size(), 1U) << "the no-update path starts the main program";
        EXPECT_THAT(Loaded(sandbox), IsEmpty());
    }
    Sandbox sandbox(L"planted");
    Plant(sandbox);
    sandbox.WriteUpdateList("path\r\none.dll\r\n");
    sandbox.WriteNewFile(L"one.dll", "new one");
    UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
    HWND window = run.WaitForWindow(L"Tessaloom UPDATES");
    ASSERT_NE(window, nullptr);
    // What a screen reader asks first: the window answers through oleacc.dll.
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(window, WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_CLIENT), SMTO_NORMAL, 5000, &answer);
    Click(FindChild(window, L"Button", L"Update"));
    HWND box = run.WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    DismissMessageBox(box);
    EXPECT_EQ(run.WaitForExit(), 0U);
    EXPECT_EQ(ReadBytes(sandbox.app + L"\\one.dll"), "new one");
    EXPECT_THAT(Loaded(sandbox), IsEmpty());
}

TEST(PlantedDlls, AreNeverLoadedByTheElevatedInstanceCheckingSignatures) {
    Sandbox sandbox(L"planted");
    Plant(sandbox);
    sandbox.WriteUpdateList("path\r\ntwo.dll\r\n");
    sandbox.WriteNewFile(L"two.dll", "new two");
    sandbox.WriteAppFile(L"two.dll", "old two");  // a current file: its signature is read
    const std::wstring parent = sandbox.app + L"\\elevated_parent.exe";
    ASSERT_TRUE(CopyFileW(TESSALOOM_ELEVATED_PARENT_EXE, parent.c_str(), FALSE));
    UpdaterRun run(parent, L" " + sandbox.MainProgram(), sandbox.app);
    EXPECT_EQ(run.WaitForExit(), 0U);
    EXPECT_THAT(ReadBytes(sandbox.app + L"\\parent.log"), HasSubstr("Tessaloom updated with success"));
    EXPECT_EQ(ReadBytes(sandbox.app + L"\\two.dll"), "new two");
    EXPECT_THAT(Loaded(sandbox), IsEmpty());
}

}  // namespace
}  // namespace tessaloom::test
