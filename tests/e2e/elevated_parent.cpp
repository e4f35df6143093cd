// The updater's walk where the application folder is not writable, with the
// real files, processes, pipe and elevated instance: Form1 on the Win32
// services, told only that it may not write there; its window and boxes are
// recorded instead of shown. "runas" under Wine starts this same program,
// which then serves as the elevated instance. What the window showed goes to
// "parent.log" beside it, one entry a line, UTF-8.
// With TESSALOOM_PARENT_WINDOW set, it shows the real window and message
// boxes instead (the pictures from TessaloomUpdate.exe beside it) and waits
// for the user, as the updater does.

#include <windows.h>

#include "app/elevated.h"
#include "core/elevated_command.h"
#include "core/text.h"
#include "fakes.h"
#include "services/dialogs.h"
#include "services/elevation.h"
#include "services/files.h"
#include "services/process.h"
#include "services/shell_folders.h"
#include "ui/win32_form_window.h"
#include "win32/handles.h"

using namespace tessaloom;

namespace {

class NotWritable final : public Elevation {
public:
    bool CanWrite(const std::wstring&) override { return false; }
    std::unique_ptr<Channel> StartElevated(std::uintptr_t window) override { return real_.StartElevated(window); }

private:
    Win32Elevation real_;
};

// The real window and boxes, driven by whoever tests it.
int RunWithWindow(HINSTANCE instance, Files& files, Process& process, Elevation& elevation) {
    const std::wstring updater = Join(process.ApplicationFolder(), L"TessaloomUpdate.exe");
    const UniqueModule pictures(
        LoadLibraryExW(updater.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE));
    Win32FormWindow window(instance, pictures.Get());
    Win32Dialogs dialogs(window);
    test::FakeRegistry registry;
    Form1 form(Platform{files, process, dialogs, registry, window, DecodeAnsi,
                        [] { return std::make_unique<Win32SpecialFolder>(); }, elevation});
    window.OnClick([&form](std::wstring_view control) {
        if (control == L"Command1") {
            form.Command1_Click();
        } else if (control == L"Command2") {
            form.Command2_Click();
        }
    });
    form.Load();
    MSG message;
    while (form.Running() && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!window.PreTranslate(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    Win32Files files;
    Win32Process process;
    if (const auto elevated = ParseElevatedCommand(process.CommandLine())) {
        try {
            const std::unique_ptr<Channel> parent = ConnectToParent(*elevated);
            return ApplyForParent(files, process.ApplicationFolder(), *parent);
        } catch (...) {
            return CurrentError().Number();
        }
    }
    NotWritable elevation;
    if (GetEnvironmentVariableW(L"TESSALOOM_PARENT_WINDOW", nullptr, 0) != 0) {
        return RunWithWindow(instance, files, process, elevation);
    }
    test::Journal journal;
    test::FakeDialogs dialogs(journal);
    test::FakeRegistry registry;
    test::RecordingView view;
    Form1 form(Platform{files, process, dialogs, registry, view, DecodeAnsi,
                        [] { return std::make_unique<Win32SpecialFolder>(); }, elevation});
    form.Load();
    form.Command1_Click();
    std::wstring record;
    for (const float width : view.fillWidths) {
        record += L"fill " + std::to_wstring(static_cast<int>(width)) + L"\n";
    }
    for (const std::wstring& entry : journal) {
        record += entry + L"\n";
    }
    files.WriteWholeFile(Join(process.ApplicationFolder(), L"parent.log"), EncodeUtf8(record));
    return 0;
}
