// The real window driven with the keyboard alone, as someone who does not use
// a mouse drives it: keys go to whichever control of the updater has the focus.

#include <gtest/gtest.h>

#include <thread>

#include "harness.h"

namespace tessaloom::test {
namespace {

// The control of the window's thread that has the keyboard focus.
HWND Focused(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

// Waits (up to 5 s) until `control` has the focus: the window shows before
// it gives the focus to its list.
HWND WaitForFocus(HWND window, HWND control) {
    for (int i = 0; Focused(window) != control && i < 250; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return Focused(window);
}

// A key pressed and released on the focused control, as a keyboard posts it;
// waits until the focus has moved to `then` (when given).
void Press(HWND window, UINT key, HWND then = nullptr) {
    HWND focus = Focused(window);
    ASSERT_NE(focus, nullptr) << "nothing has the focus";
    PostMessageW(focus, WM_KEYDOWN, key, 1);
    PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
    if (then != nullptr) {
        WaitForFocus(window, then);
    }
}

TEST(Keyboard, TabToUpdateAndEnterAppliesTheUpdate) {
    Sandbox sandbox(L"keys");
    sandbox.WriteUpdateList("path\r\none.dll\r\n");
    sandbox.WriteNewFile(L"one.dll", "new one");
    sandbox.WriteAppFile(L"one.dll", "current one");

    UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
    HWND window = run.WaitForWindow(L"Tessaloom UPDATES");
    ASSERT_NE(window, nullptr);
    HWND update = FindChild(window, L"Button", L"Update");
    ASSERT_EQ(WaitForFocus(window, FindChild(window, L"ListBox")), FindChild(window, L"ListBox"));
    Press(window, VK_TAB, update);
    ASSERT_EQ(Focused(window), update);
    Press(window, VK_RETURN);

    HWND box = run.WaitForMessageBox();
    ASSERT_NE(box, nullptr) << "Enter on Update did not update";
    EXPECT_EQ(MessageBoxText(box), L"Tessaloom updated with success");
    Press(box, VK_RETURN);  // the box's own default button
    EXPECT_EQ(run.WaitForExit(), 0U);
    EXPECT_EQ(ReadBytes(sandbox.app + L"\\one.dll"), "new one");
    EXPECT_EQ(ReadBytes(sandbox.app + L"\\OLDone.dll"), "current one");
    EXPECT_EQ(sandbox.Starts(1).size(), 1U);
}

TEST(Keyboard, TabTwiceToCancelAndEnterStartsWithoutUpdating) {
    Sandbox sandbox(L"keys");
    sandbox.WriteUpdateList("path\r\none.dll\r\n");
    sandbox.WriteNewFile(L"one.dll", "new one");

    UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
    HWND window = run.WaitForWindow(L"Tessaloom UPDATES");
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(WaitForFocus(window, FindChild(window, L"ListBox")), FindChild(window, L"ListBox"));
    Press(window, VK_TAB, FindChild(window, L"Button", L"Update"));
    Press(window, VK_TAB, FindChild(window, L"Button", L"Cancel"));
    ASSERT_EQ(Focused(window), FindChild(window, L"Button", L"Cancel"));
    Press(window, VK_RETURN);
    EXPECT_EQ(run.WaitForExit(), 0U);
    EXPECT_FALSE(IsFile(sandbox.app + L"\\one.dll"));
    EXPECT_EQ(sandbox.Starts(1).size(), 1U);
}

}  // namespace
}  // namespace tessaloom::test
