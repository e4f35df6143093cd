// The least a launcher can do: start its command line as one quoted path and end.
// The yardstick for the updater's no-update path. Built a second time with
// ASK_SHELL, it first asks the shell for the Documents folder, as any program
// that looks there must: the floor for the updater on that path.

#include <windows.h>
#ifdef ASK_SHELL
#include <shlobj.h>
#endif

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int) {
#ifdef ASK_SHELL
    PIDLIST_ABSOLUTE documents = nullptr;
    wchar_t path[MAX_PATH];
    if (SHGetSpecialFolderLocation(nullptr, CSIDL_PERSONAL, &documents) == S_OK) {
        SHGetPathFromIDListW(documents, path);
        ILFree(documents);
    }
#endif
    std::wstring line = L"\"" + std::wstring(arguments) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        return 1;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return 0;
}
