#pragma once
// Functions newer than Windows 7 SP1, the oldest system the updater runs on.
// Each is looked up at run time in a module the process has already loaded
// and, where the system lacks it, replaced by what Windows 7 offers, so the
// executable always loads and always starts the main program.

#include <windows.h>
#include <commctrl.h>

#include "win32/system_modules.h"

namespace tessaloom::ui {

// The DPI of the screen the process was started with.
int SystemDpi();
// The DPI a window is drawn at: its monitor's with per-monitor DPI
// awareness (Windows 10 1607 and later), the system's before that.
int WindowDpi(HWND window);
// Grows a client rectangle to the window rectangle for a style, with the
// frame's metrics at a DPI; false with the error in GetLastError().
bool AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi);
// A system metric (GetSystemMetrics) at a DPI.
int SystemMetricForDpi(int index, int dpi);
// Limits the DLL search to System32: SetDefaultDllDirectories where the
// system has it, otherwise at least takes the current folder off the search.
void LimitDllSearchToSystem32();

// Run-time binding of system DLLs, shared with the services.
using tessaloom::Bind;
using tessaloom::LoadSystemModule;

// Window subclassing from the common controls, which are loaded on first use
// rather than with the program: the way to the main program loads none of
// them. False when they cannot be had; the window then works unsubclassed.
// Loads them; done before the first control is made, so every control is
// of the same version.
void LoadCommonControls();
bool SubclassWindow(HWND window, SUBCLASSPROC procedure, UINT_PTR id, DWORD_PTR data);
void RemoveSubclass(HWND window, SUBCLASSPROC procedure, UINT_PTR id);
LRESULT DefaultSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// What Windows 7 gets instead of the newer functions; public for the tests,
// which hold them against the newer ones.
namespace windows7 {
int SystemDpi();
bool AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, int dpi);
int SystemMetricForDpi(int index, int dpi);
}  // namespace windows7

}  // namespace tessaloom::ui
