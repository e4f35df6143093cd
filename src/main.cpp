// TessaloomUpdate: started by Tessaloom with its own full path as the whole
// command line. Applies pending updates when there are any, then starts it.

#include <windows.h>

#include "app/elevated.h"
#include "app/form1.h"
#include "core/elevated_command.h"
#include "update/signatures.h"
#include "services/authenticode.h"
#include "services/dialogs.h"
#include "services/elevation.h"
#include "services/process.h"
#include "services/files.h"
#include "services/guards.h"
#include "services/registry.h"
#include "services/shell_folders.h"
#include "ui/win32_form_window.h"
#include "ui/win32_newer_api.h"

using namespace tessaloom;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // We live in a folder whose files we replace: load DLLs from System32 only.
    ui::LimitDllSearchToSystem32();

    Win32Files files;
    Win32Process process;
    Win32Guards guards;
    // Started by our own window to apply with administrator rights: no
    // window, no start of the main program; the exit code is the result.
    if (const auto elevated = ParseElevatedCommand(process.CommandLine())) {
        try {
            const std::unique_ptr<Channel> parent = ConnectToParent(*elevated);
            // Signed files are replaced only by files of the same signer.
            Win32Signatures signatures;
            return ApplyForParent(files, guards, process.ApplicationFolder(), *parent,
                                  SignatureCheck(signatures, process.ApplicationFolder(), ModuleFileName(nullptr)));
        } catch (...) {
            return CurrentError().Number();  // refused or cut off before anything was applied
        }
    }
    Win32Registry registry;
    Win32Elevation elevation;
    Win32FormWindow window(instance);
    Win32Dialogs dialogs(window);
    Form1 form(Platform{files, process, dialogs, registry, window, DecodeAnsi,
                        [] { return std::make_unique<Win32SpecialFolder>(); }, elevation, guards});
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
