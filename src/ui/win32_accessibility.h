#pragma once
// What assistive technology (screen readers, UI automation through its MSAA
// bridge) learns about the window. Each child window answers WM_GETOBJECT
// with the system's standard object for it, wrapped to change what the
// standard object cannot know: the list's name comes from its painted
// heading, the panel has no name of its own, and the painted progress row is
// a progress bar inside the panel.

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

namespace tessaloom::ui {

// The painted progress row as a reader reports it.
struct ProgressReading {
    std::wstring name;  // the current file's name
    int percent = 0;
    RECT screen{};  // where it is, in screen coordinates
    bool visible = true;
};

struct AccessibleChanges {
    // Replaces the standard name; an empty text means "no name".
    std::optional<std::wstring> name;
    // Replaces the standard role (ROLE_SYSTEM_...), for systems whose standard
    // object knows only a generic client area.
    std::optional<long> role;
    // When set, the window's object has one more child: the progress row.
    std::function<ProgressReading()> progress;
};

// Answers WM_GETOBJECT for OBJID_CLIENT with the standard object of the
// window with the changes; nothing for other objects or when the system's
// accessibility library is missing: the window's default procedure answers.
std::optional<LRESULT> AnswerGetObject(HWND window, WPARAM wParam, LPARAM lParam, AccessibleChanges changes);

}  // namespace tessaloom::ui
