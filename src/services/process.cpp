#include "services/process.h"

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string_view>

#include "core/text.h"
#include "core/version_info.h"
#include "win32/handles.h"
#include "win32/window_names.h"
#include "win32/win32_error.h"

namespace tessaloom {

std::wstring ModuleFileName(void* module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(static_cast<HMODULE>(module), path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            throw LastError();
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);  // truncated: ask again with more room
    }
}

std::wstring Win32Process::ModulePath() {
    if (modulePath_.empty()) {
        modulePath_ = ModuleFileName(nullptr);
    }
    return modulePath_;
}

std::wstring Win32Process::CommandLine() { return std::wstring(AfterProgramName(GetCommandLineW())); }

std::wstring Win32Process::ApplicationFolder() {
    const std::wstring path = ModulePath();
    const auto slash = path.find_last_of(L'\\');
    std::wstring folder = path.substr(0, slash == std::wstring::npos ? 0 : slash);
    if (folder.size() == 2 && folder[1] == L':') {
        folder += L'\\';  // a drive root keeps its backslash
    }
    return folder;
}

std::wstring Win32Process::ExecutableName() {
    const std::wstring path = ModulePath();
    const auto slash = path.find_last_of(L'\\');
    std::wstring name = path.substr(slash == std::wstring::npos ? 0 : slash + 1);
    const auto dot = name.find_last_of(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

// A string of the executable's version information (US English, Unicode),
// read from this module's own resource: no VERSION.dll, which the loader
// would look for beside the executable first.
std::wstring Win32Process::VersionString(const wchar_t* name) {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
    HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) {
        return {};
    }
    const std::string_view block(static_cast<const char*>(data), SizeofResource(nullptr, found));
    return VersionInfoString(block, std::wstring(L"StringFileInfo\\040904B0\\") + name).value_or(L"");
}

std::wstring Win32Process::ProductName() { return VersionString(L"ProductName"); }

std::wstring Win32Process::Version() {
    try {
        return VersionString(L"FileVersion");
    } catch (const RuntimeError&) {
        return {};  // the module's path could not be had
    }
}

std::wstring Win32Process::LocalTime() {
    FILETIME utc{};
    GetSystemTimeAsFileTime(&utc);
    FILETIME local{};
    SYSTEMTIME time{};
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &time)) {
        return {};
    }
    const auto ticks = [](const FILETIME& t) {
        return static_cast<long long>((static_cast<unsigned long long>(t.dwHighDateTime) << 32U) | t.dwLowDateTime);
    };
    const long long minutes = (ticks(local) - ticks(utc)) / 600000000LL;  // 100 ns ticks in a minute
    const long long offset = minutes < 0 ? -minutes : minutes;
    wchar_t text[64];
    std::swprintf(text, 64, L"%04d-%02d-%02d %02d:%02d:%02d UTC%ls%02d:%02d", time.wYear, time.wMonth, time.wDay,
                  time.wHour, time.wMinute, time.wSecond, minutes < 0 ? L"-" : L"+", static_cast<int>(offset / 60),
                  static_cast<int>(offset % 60));
    return text;
}

void Win32Process::Start(const std::wstring& commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION started{};
    std::wstring writable = commandLine;  // CreateProcessW may write to its command line
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        throw LastError();
    }
    // The started program may take the foreground from us.
    AllowSetForegroundWindow(started.dwProcessId);
    UniqueKernelHandle process(started.hProcess);
    UniqueKernelHandle thread(started.hThread);
}

// A mutex named after the application folder (in upper case, hashed, since
// a name may not hold backslashes) in this session's namespace.
bool Win32Process::ClaimApplicationFolder() {
    if (claim_) {
        return true;
    }
    std::wstring folder = ApplicationFolder();
    CharUpperBuffW(folder.data(), static_cast<DWORD>(folder.size()));
    std::uint64_t hash = 0xCBF29CE484222325ULL;  // FNV-1a
    for (const wchar_t c : folder) {
        hash = (hash ^ static_cast<std::uint16_t>(c)) * 0x100000001B3ULL;
    }
    wchar_t name[64];
    std::swprintf(name, 64, L"Local\\TessaloomUpdate.%016llX", static_cast<unsigned long long>(hash));
    UniqueKernelHandle mutex(CreateMutexW(nullptr, FALSE, name));
    if (!mutex) {
        return true;  // without a mutex nothing can tell; go on as before
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        return false;
    }
    claim_ = std::move(mutex);
    return true;
}

void Win32Process::ActivateOtherInstance() {
    // Another updater's window, not ours (we have none yet).
    HWND window = FindWindowW(kFormWindowClass, nullptr);
    if (window == nullptr) {
        return;
    }
    if (IsIconic(window)) {
        ShowWindow(window, SW_RESTORE);
    }
    SetForegroundWindow(window);
}

}  // namespace tessaloom
