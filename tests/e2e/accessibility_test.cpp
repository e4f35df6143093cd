// The real window as a screen reader meets it: through oleacc, across
// processes, as Windows' readers ask.

#include <windows.h>

#include <oleacc.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "harness.h"

namespace tessaloom::test {
namespace {

// What a reader holds: an object and its answers for one child (or itself).
class Reader {
public:
    Reader() {
        CoInitialize(nullptr);
        oleacc_ = LoadLibraryW(L"oleacc.dll");
        fromWindow_ = reinterpret_cast<decltype(&AccessibleObjectFromWindow)>(
            reinterpret_cast<void (*)()>(GetProcAddress(oleacc_, "AccessibleObjectFromWindow")));
    }
    ~Reader() {
        Reset();
        FreeLibrary(oleacc_);
        CoUninitialize();
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Reads the object of a window; false when there is none.
    bool Open(HWND window, LONG object = OBJID_CLIENT) {
        Reset();
        // With MinGW the import library's IID_IAccessible is wrong: the header's __uuidof is right.
        return fromWindow_ != nullptr &&
               SUCCEEDED(fromWindow_(window, static_cast<DWORD>(object), __uuidof(IAccessible),
                                     reinterpret_cast<void**>(&object_))) &&
               object_ != nullptr;
    }

    std::wstring Name(long child = CHILDID_SELF) { return Text(&IAccessible::get_accName, child); }
    std::wstring Value(long child = CHILDID_SELF) { return Text(&IAccessible::get_accValue, child); }
    long Role(long child = CHILDID_SELF) {
        VARIANT role;
        VariantInit(&role);
        object_->get_accRole(Child(child), &role);
        const long value = role.vt == VT_I4 ? role.lVal : -1;
        VariantClear(&role);
        return value;
    }
    long ChildCount() {
        long count = -1;
        object_->get_accChildCount(&count);
        return count;
    }

private:
    static VARIANT Child(long id) {
        VARIANT child;
        VariantInit(&child);
        child.vt = VT_I4;
        child.lVal = id;
        return child;
    }
    std::wstring Text(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*), long child) {
        BSTR text = nullptr;
        (object_->*get)(Child(child), &text);
        std::wstring result = text != nullptr ? std::wstring(text, SysStringLen(text)) : L"";
        SysFreeString(text);
        return result;
    }
    void Reset() {
        if (object_ != nullptr) {
            object_->Release();
            object_ = nullptr;
        }
    }

    HMODULE oleacc_ = nullptr;
    decltype(&AccessibleObjectFromWindow) fromWindow_ = nullptr;
    IAccessible* object_ = nullptr;
};

// A progress event as a reader hears it.
struct WinEvent {
    DWORD event;
    HWND window;
    LONG object;
    LONG child;
    bool operator==(const WinEvent&) const = default;
};

// Listens, out of context, for value and name changes in one process.
class EventListener {
public:
    EventListener(DWORD processId, std::vector<WinEvent>& heard) {
        heard_ = &heard;
        hook_ = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr, &Heard, processId, 0,
                                WINEVENT_OUTOFCONTEXT);
    }
    ~EventListener() {
        if (hook_ != nullptr) {
            UnhookWinEvent(hook_);
        }
        heard_ = nullptr;
    }
    EventListener(const EventListener&) = delete;
    EventListener& operator=(const EventListener&) = delete;

    // Reads this thread's messages (which bring the events) until `done`, or
    // 20 s, and once more after it: what was sent before is heard.
    template <typename Done>
    void PumpUntil(Done done) const {
        const DWORD end = GetTickCount() + 20000;
        for (;;) {
            const bool finished = done() || static_cast<LONG>(end - GetTickCount()) <= 0;
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&message);
            }
            if (finished) {
                return;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
    }

private:
    static void CALLBACK Heard(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD, DWORD) {
        if (heard_ != nullptr) {
            heard_->push_back({event, window, object, child});
        }
    }
    static inline std::vector<WinEvent>* heard_ = nullptr;
    HWINEVENTHOOK hook_ = nullptr;
};

TEST(Accessibility, ReadersHearTheWindowItsControlsAndTheProgress) {
    Sandbox sandbox(L"reader");
    sandbox.WriteUpdateList("path\r\nfirst.dll\r\nTessaloomCore.dll\r\n");
    sandbox.WriteNewFile(L"first.dll", "new");
    sandbox.WriteNewFile(L"TessaloomCore.dll", "new");
    UpdaterRun run(sandbox, L" " + sandbox.MainProgram());
    HWND window = run.WaitForWindow(L"Tessaloom UPDATES");
    ASSERT_NE(window, nullptr);
    HWND list = FindChild(window, L"ListBox");
    HWND panel = GetParent(list);

    Reader reader;
    struct Expected {
        HWND window;
        LONG object;
        std::wstring name;
        long role;
    };
    // (Wine's object for a whole window, OBJID_WINDOW, answers neither name nor role.)
    const Expected controls[] = {
        {window, OBJID_CLIENT, L"Tessaloom UPDATES", ROLE_SYSTEM_CLIENT},
        {list, OBJID_CLIENT, L"List of Files", ROLE_SYSTEM_LIST},
        {FindChild(window, L"Button", L"Update"), OBJID_CLIENT, L"Update", ROLE_SYSTEM_PUSHBUTTON},
        {FindChild(window, L"Button", L"Cancel"), OBJID_CLIENT, L"Cancel", ROLE_SYSTEM_PUSHBUTTON},
        {panel, OBJID_CLIENT, L"", ROLE_SYSTEM_CLIENT},  // the panel's hidden caption is no name
    };
    for (const Expected& control : controls) {
        ASSERT_TRUE(reader.Open(control.window, control.object))
            << std::string(control.name.begin(), control.name.end());
        EXPECT_EQ(reader.Name(), control.name);
        EXPECT_EQ(reader.Role(), control.role) << std::string(control.name.begin(), control.name.end());
    }

    // In the panel: the list's window, then the painted progress row.
    ASSERT_TRUE(reader.Open(panel));
    ASSERT_EQ(reader.ChildCount(), 2);
    EXPECT_EQ(reader.Role(2), ROLE_SYSTEM_PROGRESSBAR);
    EXPECT_EQ(reader.Value(2), L"0%");
    EXPECT_EQ(reader.Name(2), L"File:");

    // Readers are told as the walk moves the bar and names each file: events
    // heard out of context, from this process, while its messages are read.
    std::vector<WinEvent> heard;
    HWND box = nullptr;
    {
        const EventListener listener(run.ProcessId(), heard);
        Click(FindChild(window, L"Button", L"Update"));
        listener.PumpUntil([&] { return (box = run.WaitForMessageBox(std::chrono::milliseconds(0))) != nullptr; });
    }
    ASSERT_NE(box, nullptr);
    const auto count = [&](DWORD event) { return std::ranges::count(heard, WinEvent{event, panel, OBJID_CLIENT, 2}); };
    // The bar and the name, told with the paint that shows them: changes
    // closer together than a paint's interval are told once.
    EXPECT_GE(count(EVENT_OBJECT_VALUECHANGE), 1);
    EXPECT_GE(count(EVENT_OBJECT_NAMECHANGE), 1);
    ASSERT_TRUE(reader.Open(panel));
    EXPECT_EQ(reader.Value(2), L"100%");
    EXPECT_EQ(reader.Name(2), L"TessaloomCore.dll");
    DismissMessageBox(box);
    EXPECT_EQ(run.WaitForExit(), 0U);
}

}  // namespace
}  // namespace tessaloom::test
