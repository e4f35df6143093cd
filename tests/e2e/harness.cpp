#include "harness.h"

#include <algorithm>
#include <stdexcept>
#include <thread>

namespace tessaloom::test {
namespace {

constexpr wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

[[noreturn]] void Fail(const std::wstring& what) {
    const std::string narrow(what.begin(), what.end());
    throw std::runtime_error(narrow + " (error " + std::to_string(GetLastError()) + ")");
}

std::wstring FreshRoot(std::wstring_view name, std::wstring temp) {
    static int counter = 0;
    temp = (temp.empty() ? TempFolder() : temp) + L"\\";
    return temp + L"tessaloom-" + std::wstring(name) + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(++counter);
}

template <typename Predicate>
bool WaitUntil(std::chrono::milliseconds timeout, Predicate done) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

struct WindowSearch {
    DWORD processId;
    std::wstring_view className;
    std::optional<std::wstring_view> title;
    HWND found = nullptr;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search.processId || !IsWindowVisible(window)) {
        return TRUE;
    }
    if ((!search.className.empty() && ClassName(window) != search.className) ||
        (search.title && WindowText(window) != *search.title)) {
        return TRUE;
    }
    search.found = window;
    return FALSE;
}

HWND FindTopLevel(DWORD processId, std::wstring_view className, std::optional<std::wstring_view> title) {
    WindowSearch search{processId, className, title};
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

std::string ReadBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Fail(L"cannot open " + path);
    }
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    CloseHandle(file);
    return bytes;
}

std::wstring ReadUtf16File(const std::wstring& path) {
    const std::string bytes = ReadBytes(path);
    return {reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t)};
}

void WriteBytes(const std::wstring& path, std::string_view bytes) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Fail(L"cannot write " + path);
    }
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

std::wstring TempFolder() {
    std::wstring temp(MAX_PATH + 1, L'\0');
    temp.resize(GetTempPathW(static_cast<DWORD>(temp.size()), temp.data()));
    return temp.substr(0, temp.size() - 1);
}

bool IsFile(const std::wstring& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(name);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

void MakeFolders(const std::wstring& folder) {
    for (std::size_t at = folder.find(L'\\', 3); at != std::wstring::npos; at = folder.find(L'\\', at + 1)) {
        CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
    }
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        Fail(L"cannot create " + folder);
    }
}

void RemoveTree(const std::wstring& folder) {
    for (const std::wstring& name : FolderEntries(folder)) {
        const std::wstring path = folder + L"\\" + name;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(path);
        } else {
            DeleteFileW(path.c_str());
        }
    }
    RemoveDirectoryW(folder.c_str());
}

DocumentsRedirect::DocumentsRedirect(const std::wstring& folder) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        Fail(L"cannot open the shell folders key");
    }
    DWORD size = 0;
    if (RegQueryValueExW(key, L"Personal", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
        std::wstring value(size / sizeof(wchar_t), L'\0');
        RegQueryValueExW(key, L"Personal", nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()), &size);
        value.resize(value.find(L'\0') == std::wstring::npos ? value.size() : value.find(L'\0'));
        previous_ = value;
    }
    RegSetValueExW(key, L"Personal", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

DocumentsRedirect::~DocumentsRedirect() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, KEY_WRITE, &key) != ERROR_SUCCESS) {
        return;
    }
    if (previous_) {
        RegSetValueExW(key, L"Personal", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(previous_->c_str()),
                       static_cast<DWORD>((previous_->size() + 1) * sizeof(wchar_t)));
    } else {
        RegDeleteValueW(key, L"Personal");
    }
    RegCloseKey(key);
}

LogPixels::LogPixels(DWORD dpi) {
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                        &key_, nullptr) != ERROR_SUCCESS) {
        Fail(L"cannot open the desktop's settings");
    }
    DWORD old = 0;
    DWORD size = sizeof old;
    if (RegQueryValueExW(key_, L"LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&old), &size) == ERROR_SUCCESS) {
        previous_ = old;
    }
    RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
}

LogPixels::~LogPixels() {
    if (previous_) {
        RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&*previous_), sizeof *previous_);
    } else {
        RegDeleteValueW(key_, L"LogPixels");
    }
    RegCloseKey(key_);
}

Sandbox::Sandbox(std::wstring_view name) : Sandbox(name, std::wstring()) {}

Sandbox::Sandbox(std::wstring_view name, const std::wstring& parent, const std::wstring& documentsParent)
    : root(FreshRoot(name, parent)),
      app(root + L"\\app"),
      documents((documentsParent.empty() ? root : FreshRoot(name, documentsParent)) + L"\\docs"),
      documentsRoot_(documentsParent.empty() ? std::wstring() : documents.substr(0, documents.size() - 5)),
      redirect_(documents) {
    MakeFolders(app);
    MakeFolders(documents);
    if (!CopyFileW(TESSALOOM_UPDATER_EXE, (app + L"\\TessaloomUpdate.exe").c_str(), FALSE) ||
        !CopyFileW(TESSALOOM_FAKE_TARGET_EXE, MainProgram().c_str(), FALSE)) {
        Fail(L"cannot copy the programs into " + app);
    }
}

Sandbox::~Sandbox() {
    RemoveTree(root);
    if (!documentsRoot_.empty()) {
        RemoveTree(documentsRoot_);
    }
}

void Sandbox::WriteUpdateList(std::string_view bytes) const {
    MakeFolders(UpdateFolder());
    WriteBytes(UpdateList(), bytes);
}

void Sandbox::WriteNewFile(const std::wstring& name, std::string_view bytes) const {
    const std::wstring path = UpdateFolder() + L"\\" + name;
    MakeFolders(path.substr(0, path.find_last_of(L'\\')));
    WriteBytes(path, bytes);
}

void Sandbox::WriteAppFile(const std::wstring& name, std::string_view bytes) const {
    const std::wstring path = app + L"\\" + name;
    MakeFolders(path.substr(0, path.find_last_of(L'\\')));
    WriteBytes(path, bytes);
}

std::vector<StartRecord> Sandbox::Starts(std::size_t expected) const {
    std::vector<StartRecord> records;
    // The main program writes its record a moment after the updater started it.
    WaitUntil(std::chrono::seconds(10), [&] { return (records = ReadStarts()).size() >= expected; });
    if (expected == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        records = ReadStarts();
    }
    return records;
}

std::vector<StartRecord> Sandbox::ReadStarts() const {
    std::vector<StartRecord> records;
    const std::wstring log = app + L"\\started.log";
    if (!IsFile(log)) {
        return records;
    }
    const std::wstring text = ReadUtf16File(log);
    std::size_t start = 0;
    for (std::size_t end = text.find(L'\n'); end != std::wstring::npos; end = text.find(L'\n', start)) {
        const std::wstring line = text.substr(start, end - start);
        const auto tab = line.rfind(L'\t');
        records.push_back({line.substr(0, tab), line.substr(tab + 1)});
        start = end + 1;
    }
    return records;
}

// Started from elsewhere, as the main program may be, so the working folder is the updater's to set.
UpdaterRun::UpdaterRun(const Sandbox& sandbox, const std::wstring& arguments)
    : UpdaterRun(sandbox.app + L"\\TessaloomUpdate.exe", arguments, sandbox.root) {}

UpdaterRun::UpdaterRun(const std::wstring& exe, const std::wstring& arguments, const std::wstring& workingFolder) {
    std::wstring commandLine = L"\"" + exe + L"\"" + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, workingFolder.c_str(),
                        &startup, &info_)) {
        Fail(L"cannot start " + exe);
    }
}

void UpdaterRun::Kill() {
    TerminateProcess(info_.hProcess, 99);
    WaitForSingleObject(info_.hProcess, 5000);
}

bool WaitFor(std::chrono::milliseconds timeout, const std::function<bool()>& condition) {
    return WaitUntil(timeout, condition);
}

std::map<std::wstring, std::string> FolderFiles(const std::wstring& folder) {
    std::map<std::wstring, std::string> files;
    for (const std::wstring& name : FolderEntries(folder)) {
        if (IsFile(folder + L"\\" + name)) {
            files[name] = ReadBytes(folder + L"\\" + name);
        }
    }
    return files;
}

UpdaterRun::~UpdaterRun() {
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

std::optional<DWORD> UpdaterRun::WaitForExit(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (WaitForSingleObject(info_.hProcess, 10) == WAIT_TIMEOUT) {
        sawWindow_ = sawWindow_ || FindTopLevel(info_.dwProcessId, L"", std::nullopt) != nullptr;
        if (std::chrono::steady_clock::now() >= end) {
            return std::nullopt;
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

HWND UpdaterRun::WaitForWindow(std::wstring_view title, std::chrono::milliseconds timeout) {
    HWND found = nullptr;
    WaitUntil(timeout, [&] { return (found = FindTopLevel(info_.dwProcessId, L"", title)) != nullptr; });
    return found;
}

HWND UpdaterRun::WaitForMessageBox(std::chrono::milliseconds timeout) {
    HWND found = nullptr;
    WaitUntil(timeout, [&] { return (found = FindTopLevel(info_.dwProcessId, L"#32770", std::nullopt)) != nullptr; });
    return found;
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::wstring ClassName(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

HWND FindChild(HWND parent, std::wstring_view className, std::optional<std::wstring_view> text) {
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (_wcsicmp(ClassName(child).c_str(), std::wstring(className).c_str()) == 0 &&
            (!text || WindowText(child) == *text)) {
            return child;
        }
        if (HWND inner = FindChild(child, className, text)) {
            return inner;
        }
    }
    return nullptr;
}

std::vector<std::wstring> ListBoxLines(HWND listBox) {
    std::vector<std::wstring> lines;
    const auto count = SendMessageW(listBox, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        std::wstring line(static_cast<std::size_t>(SendMessageW(listBox, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
        line.resize(
            static_cast<std::size_t>(SendMessageW(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()))));
        lines.push_back(line);
    }
    return lines;
}

void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

std::wstring MessageBoxText(HWND box) {
    std::wstring text;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (_wcsicmp(ClassName(child).c_str(), L"Static") == 0) {
            const std::wstring part = WindowText(child);
            if (!part.empty()) {
                text += (text.empty() ? L"" : L"\n") + part;
            }
        }
    }
    return text;
}

void DismissMessageBox(HWND box) { PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }

void SaveScreenshot(HWND window, const std::wstring& path) {
    RECT frame;
    GetWindowRect(window, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
    SelectObject(memory, old);
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3U;
    const DWORD imageSize = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER header{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + imageSize),
                            0, 0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
    std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
    bytes.append(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    bytes.append(static_cast<const char*>(pixels), imageSize);
    WriteBytes(path, bytes);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

}  // namespace tessaloom::test
