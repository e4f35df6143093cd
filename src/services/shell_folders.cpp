#include "services/shell_folders.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "win32/handles.h"

namespace tessaloom {
namespace {

HWND AsWindow(std::uintptr_t handle) { return reinterpret_cast<HWND>(handle); }

}  // namespace

void Win32SpecialFolder::Display_About(std::uintptr_t Window_Handler, const std::wstring& Application_Title,
                                       const std::wstring& Application_Creator, std::uintptr_t icon) {
    ShellAboutW(AsWindow(Window_Handler), Application_Title.c_str(), Application_Creator.c_str(),
                reinterpret_cast<HICON>(icon));
}

std::wstring Win32SpecialFolder::Return_Special_Path(std::uintptr_t Handle_Window,
                                                     std::int32_t enum_SpecialDirectories) {
    UniqueIdList folder;  // released once read
    if (SHGetSpecialFolderLocation(AsWindow(Handle_Window), enum_SpecialDirectories, folder.Put()) != S_OK) {
        return {};
    }
    // SHGetPathFromIDListEx reports a path too long for its buffer; ask again with more room.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        if (SHGetPathFromIDListEx(folder.Get(), path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT)) {
            path.resize(path.find(L'\0'));
            return path;
        }
        if (path.size() >= 32768) {
            return {};  // no file-system path (a virtual folder) or none that fits any buffer
        }
        path.assign(path.size() * 4, L'\0');
    }
}

void Win32SpecialFolder::set_Window_Caption(std::uintptr_t Window_Handler, const std::wstring& Window_Caption) {
    SendMessageW(AsWindow(Window_Handler), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Window_Caption.c_str()));
}

std::pair<std::int32_t, std::wstring> Win32SpecialFolder::FolderPathCreating(std::int32_t folderId) {
    // shell32's own call, not the shfolder DLL, which a planted copy beside us could replace.
    std::wstring path(MAX_PATH, L'\0');
    const HRESULT status = SHGetFolderPathW(nullptr, folderId, nullptr, SHGFP_TYPE_CURRENT, path.data());
    path.resize(status == S_OK ? path.find(L'\0') : 0);
    return {static_cast<std::int32_t>(status), path};
}

}  // namespace tessaloom
