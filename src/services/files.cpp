#include "services/files.h"

#include <windows.h>

#include "win32/handles.h"
#include "win32/win32_error.h"
#include "win32/win32_text.h"

namespace tessaloom::Module1 {

bool FileExists(const std::wstring& path) {
    if (path.empty()) {
        return false;
    }
    WIN32_FIND_DATAW entry;
    UniqueFind find(FindFirstFileW(path.c_str(), &entry));
    if (!find) {
        return false;
    }
    constexpr DWORD kNotOrdinary = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    do {
        if ((entry.dwFileAttributes & kNotOrdinary) == 0) {
            return true;
        }
    } while (FindNextFileW(find.Get(), &entry));
    return false;
}

void BackupFile(const std::wstring&, const std::wstring&) { throw RuntimeError(5, L"BackupFile: not built yet"); }

void CopyUpdateFile(const std::wstring&, const std::wstring&, const std::function<void()>&) {
    throw RuntimeError(5, L"CopyUpdateFile: not built yet");
}

}  // namespace tessaloom::Module1

namespace tessaloom {

void Win32Files::RenameFile(const std::wstring& from, const std::wstring& to) {
    if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
        throw LastError();
    }
}

void Win32Files::CreateFolders(const std::wstring&) { throw RuntimeError(5, L"CreateFolders: not built yet"); }

std::optional<std::string> Win32Files::ReadWholeFile(const std::wstring&) { return std::nullopt; }

void Win32Files::SetCurrentFolder(const std::wstring& folder) {
    if (!SetCurrentDirectoryW(folder.c_str())) {
        throw LastError();
    }
}

std::wstring DecodeAnsi(std::string_view bytes) { return ToWide(bytes, CP_ACP); }

}  // namespace tessaloom
