#include "services/dialogs.h"

#include <windows.h>

namespace tessaloom {
namespace {

void Box(FormView& owner, const std::wstring& text, const std::wstring& caption, UINT style) {
    HWND window = reinterpret_cast<HWND>(owner.Handle());
    // Without a window of ours the box is modal to the task and comes to the front.
    MessageBoxW(window, text.c_str(), caption.c_str(),
                style | (window == nullptr ? MB_TASKMODAL | MB_SETFOREGROUND : 0));
}

}  // namespace

void Win32Dialogs::Message(const std::wstring& text, const std::wstring& caption) { Box(owner_, text, caption, MB_OK); }

void Win32Dialogs::Error(const std::wstring& text, const std::wstring& caption) {
    Box(owner_, text, caption, MB_OK | MB_ICONERROR);
}

}  // namespace tessaloom
