// The updater's walk where the application folder is not writable, with the
// real files, processes, pipe and elevated instance: Form1 on the Win32
// services, told only that it may not write there; its window and boxes are
// recorded instead of shown. "runas" under Wine starts this same program,
// which then serves as the elevated instance. What the window showed goes to
// "parent.log" beside it, one entry a line, UTF-8.

#include <windows.h>

#include "app/elevated.h"
#include "core/elevated_command.h"
#include "core/text.h"
#include "fakes.h"
#include "services/elevation.h"
#include "services/files.h"
#include "services/process.h"
#include "services/shell_folders.h"

using namespace tessaloom;

namespace {

class NotWritable final : public Elevation {
public:
    bool CanWrite(const std::wstring&) override { return false; }
    std::unique_ptr<Channel> StartElevated(std::uintptr_t window) override { return real_.StartElevated(window); }

private:
    Win32Elevation real_;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
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
    test::Journal journal;
    test::FakeDialogs dialogs(journal);
    test::FakeRegistry registry;
    test::RecordingView view;
    NotWritable elevation;
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
