#pragma once
// The updater's window class, by which another updater finds the window.

namespace tessaloom {

inline constexpr wchar_t kFormWindowClass[] = L"TessaloomUpdateForm";

}  // namespace tessaloom
