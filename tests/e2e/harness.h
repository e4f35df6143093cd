#pragma once
// Drives the real TessaloomUpdate.exe under Wine as a person would: a fresh
// application folder and Documents folder per test, the stand-in main program
// beside the updater, the window found by its title, its list read back, its
// buttons pressed, message boxes read and dismissed.

#include <windows.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaloom::test {

inline constexpr wchar_t kMainProgram[] = L"Tessaloom Main.exe";

// What the stand-in main program recorded about one start.
struct StartRecord {
    std::wstring commandLine;
    std::wstring workingFolder;
};

std::wstring ReadUtf16File(const std::wstring& path);
std::string ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, std::string_view bytes);
bool IsFile(const std::wstring& path);
// The temporary folder, without a trailing separator.
std::wstring TempFolder();
DWORD Attributes(const std::wstring& path);
// Files of a folder, sorted, without "." and "..".
std::vector<std::wstring> FolderEntries(const std::wstring& folder);
void MakeFolders(const std::wstring& folder);
// The files directly in a folder with their content.
std::map<std::wstring, std::string> FolderFiles(const std::wstring& folder);
// Waits until a condition holds; false after the timeout.
bool WaitFor(std::chrono::milliseconds timeout, const std::function<bool()>& condition);
void RemoveTree(const std::wstring& folder);

// Points the current user's Documents folder somewhere for its lifetime.
class DocumentsRedirect {
public:
    explicit DocumentsRedirect(const std::wstring& folder);
    ~DocumentsRedirect();
    DocumentsRedirect(const DocumentsRedirect&) = delete;
    DocumentsRedirect& operator=(const DocumentsRedirect&) = delete;

private:
    std::optional<std::wstring> previous_;
};

// The display's DPI (LogPixels) as Wine reads it when a program starts, for
// this scope. Wine applies it to every program started afterwards.
class LogPixels {
public:
    explicit LogPixels(DWORD dpi);
    ~LogPixels();
    LogPixels(const LogPixels&) = delete;
    LogPixels& operator=(const LogPixels&) = delete;

private:
    HKEY key_ = nullptr;
    std::optional<DWORD> previous_;
};

// A fresh tree: <root>\app holds the updater and the main program, <root>\docs
// is the Documents folder.
class Sandbox {
public:
    explicit Sandbox(std::wstring_view name = L"e2e");
    // The same in a folder of its own choosing (a small drive, say), and its
    // Documents folder, when `documentsParent` is given, in another one.
    Sandbox(std::wstring_view name, const std::wstring& parent, const std::wstring& documentsParent = {});
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::wstring root;
    const std::wstring app;
    const std::wstring documents;

    std::wstring MainProgram() const { return app + L"\\" + kMainProgram; }
    std::wstring UpdateFolder() const { return documents + L"\\My TessaloomSaaS Projects\\Update"; }
    std::wstring UpdateList() const { return UpdateFolder() + L"\\TessaloomUpdate.txt"; }
    // Writes the update list (creating its folder) and new files into the update folder.
    void WriteUpdateList(std::string_view bytes) const;
    void WriteNewFile(const std::wstring& name, std::string_view bytes) const;
    void WriteAppFile(const std::wstring& name, std::string_view bytes) const;
    // The starts of the main program so far, once there are at least `expected`
    // (or after 10 s); with 0, after a moment in which a late start would show.
    std::vector<StartRecord> Starts(std::size_t expected = 0) const;

private:
    std::vector<StartRecord> ReadStarts() const;
    const std::wstring documentsRoot_;  // holds Documents when it is not under root
    DocumentsRedirect redirect_;
};

// The updater started with a command line (the text after its own name).
class UpdaterRun {
public:
    UpdaterRun(const Sandbox& sandbox, const std::wstring& arguments);
    // Starts `exe` with `arguments` appended after its quoted name, from `workingFolder`.
    UpdaterRun(const std::wstring& exe, const std::wstring& arguments, const std::wstring& workingFolder);
    ~UpdaterRun();
    UpdaterRun(const UpdaterRun&) = delete;
    UpdaterRun& operator=(const UpdaterRun&) = delete;

    // The exit code, or nothing when it did not end in time. While it waits
    // it watches for any visible window of the updater.
    std::optional<DWORD> WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // The updater's top-level window with this title, or null after the timeout.
    HWND WaitForWindow(std::wstring_view title, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // The updater's message box (a #32770 dialog), or null after the timeout.
    HWND WaitForMessageBox(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // True when a visible window of the updater was seen while waiting for its exit.
    bool ShowedAWindow() const { return sawWindow_; }
    DWORD ProcessId() const { return info_.dwProcessId; }
    // Ends the updater at once, as a power cut or Task Manager would.
    void Kill();

private:
    PROCESS_INFORMATION info_{};
    bool sawWindow_ = false;
};

std::wstring WindowText(HWND window);
std::wstring ClassName(HWND window);
// The child window of a class (and with a text, when given), searched in depth.
HWND FindChild(HWND parent, std::wstring_view className, std::optional<std::wstring_view> text = std::nullopt);
std::vector<std::wstring> ListBoxLines(HWND listBox);
// Presses a button as a click would, without waiting for what it starts.
void Click(HWND button);
// The message of a message box: the texts of its static controls, joined by newlines.
std::wstring MessageBoxText(HWND box);
// Presses the box's OK button.
void DismissMessageBox(HWND box);
// Saves what the screen shows of a window (with its frame) as a 24-bit BMP.
void SaveScreenshot(HWND window, const std::wstring& path);

}  // namespace tessaloom::test
