#include "ui/win32_newer_api.h"

#include <string>

namespace tessaloom::ui {
namespace {

// A function of a loaded system module, or null where this Windows lacks it.
// Only modules already loaded are asked: nothing is loaded from the search path.
template <typename Function>
Function* Find(const wchar_t* module, const char* name) {
    Function* found = nullptr;
    Bind(found, GetModuleHandleW(module), name);
    return found;
}

using GetDpiForSystemFunction = UINT WINAPI();
using GetDpiForWindowFunction = UINT WINAPI(HWND);
using AdjustWindowRectExForDpiFunction = BOOL WINAPI(RECT*, DWORD, BOOL, DWORD, UINT);
using GetSystemMetricsForDpiFunction = int WINAPI(int, UINT);
using SetDefaultDllDirectoriesFunction = BOOL WINAPI(DWORD);

// The subclassing functions of the common controls (version 6, by the
// manifest), loaded the first time a window asks.
struct Subclassing {
    decltype(&SetWindowSubclass) set = nullptr;
    decltype(&RemoveWindowSubclass) remove = nullptr;
    decltype(&DefSubclassProc) call = nullptr;
};

const Subclassing& CommonControls() {
    static const Subclassing functions = [] {
        Subclassing found;
        // What they import that is not a KnownDLL, from System32 first: the
        // loader then finds it loaded, where it would otherwise look for it
        // beside the executable first (Windows 7 without SetDefaultDllDirectories).
        for (const wchar_t* dependency : {L"uxtheme.dll", L"msimg32.dll", L"dwmapi.dll"}) {
            LoadSystemModule(dependency);
        }
        // By name: the manifest's side-by-side version 6, not System32's own.
        HMODULE module = LoadLibraryW(L"comctl32.dll");
        Bind(found.set, module, "SetWindowSubclass");
        Bind(found.remove, module, "RemoveWindowSubclass");
        Bind(found.call, module, "DefSubclassProc");
        if (found.set == nullptr || found.remove == nullptr || found.call == nullptr) {
            found = {};
        }
        return found;
    }();
    return functions;
}

}  // namespace

void LoadCommonControls() { CommonControls(); }

bool SubclassWindow(HWND window, SUBCLASSPROC procedure, UINT_PTR id, DWORD_PTR data) {
    const Subclassing& functions = CommonControls();
    return functions.set != nullptr && functions.set(window, procedure, id, data);
}

void RemoveSubclass(HWND window, SUBCLASSPROC procedure, UINT_PTR id) {
    if (const Subclassing& functions = CommonControls(); functions.remove != nullptr) {
        functions.remove(window, procedure, id);
    }
}

LRESULT DefaultSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Only ever called from a procedure that SubclassWindow installed.
    return CommonControls().call(window, message, wParam, lParam);
}

namespace windows7 {

int SystemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen != nullptr) {
        ReleaseDC(nullptr, screen);
    }
    return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

// The frame at the system's DPI, its thickness scaled to the one asked for.
bool AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi) {
    RECT frame{};
    if (!AdjustWindowRectEx(&frame, style, FALSE, exStyle)) {
        return false;
    }
    const int system = SystemDpi();
    rect.left += MulDiv(frame.left, dpi, system);
    rect.top += MulDiv(frame.top, dpi, system);
    rect.right += MulDiv(frame.right, dpi, system);
    rect.bottom += MulDiv(frame.bottom, dpi, system);
    return true;
}

int SystemMetricForDpi(int index, int dpi) { return MulDiv(GetSystemMetrics(index), dpi, SystemDpi()); }

}  // namespace windows7

int SystemDpi() {
    static auto* const newer = Find<GetDpiForSystemFunction>(L"user32.dll", "GetDpiForSystem");
    return newer != nullptr ? static_cast<int>(newer()) : windows7::SystemDpi();
}

int WindowDpi(HWND window) {
    static auto* const newer = Find<GetDpiForWindowFunction>(L"user32.dll", "GetDpiForWindow");
    const int dpi = newer != nullptr ? static_cast<int>(newer(window)) : 0;
    return dpi > 0 ? dpi : SystemDpi();
}

bool AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi) {
    static auto* const newer = Find<AdjustWindowRectExForDpiFunction>(L"user32.dll", "AdjustWindowRectExForDpi");
    if (newer != nullptr) {
        return newer(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi)) != FALSE;
    }
    return windows7::AdjustWindowRectForDpi(rect, style, exStyle, dpi);
}

int SystemMetricForDpi(int index, int dpi) {
    static auto* const newer = Find<GetSystemMetricsForDpiFunction>(L"user32.dll", "GetSystemMetricsForDpi");
    return newer != nullptr ? newer(index, static_cast<UINT>(dpi)) : windows7::SystemMetricForDpi(index, dpi);
}

void LimitDllSearchToSystem32() {
    // Windows 8 and later, and Windows 7 with update KB2533623.
    auto* const newer = Find<SetDefaultDllDirectoriesFunction>(L"kernel32.dll", "SetDefaultDllDirectories");
    if (newer == nullptr || !newer(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        SetDllDirectoryW(L"");
    }
}

}  // namespace tessaloom::ui
