#include "win32/system_modules.h"

#include <string>

namespace tessaloom {

HMODULE LoadSystemModule(const wchar_t* name) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const UINT length = GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
        if (length == 0) {
            return nullptr;
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(length);  // the size it needs, with its NUL
    }
    // With the DLL's own folder searched for what it imports, not ours.
    return LoadLibraryExW((path + L"\\" + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace tessaloom
