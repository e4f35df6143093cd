// The demo: lays out an application folder with an older Tessaloom and a
// Documents folder with a pending update, then runs the real updater. With
// --interactive a person drives the window; otherwise the demo presses
// "Update" itself and saves what the screen showed at each step, after a
// look at the window on a display scaled to 150 %.
//   demo_driver.exe DEMO_FOLDER [--interactive]

#include <cstdio>
#include <string>

#include "harness.h"

using namespace tessaloom::test;

namespace {

void Say(const std::wstring& line) { std::wprintf(L"%ls\n", line.c_str()); }

void Prepare(const std::wstring& app, const std::wstring& update) {
    RemoveTree(app);
    RemoveTree(update);
    MakeFolders(app);
    MakeFolders(update);
    CopyFileW(TESSALOOM_UPDATER_EXE, (app + L"\\TessaloomUpdate.exe").c_str(), FALSE);
    CopyFileW(TESSALOOM_FAKE_TARGET_EXE, (app + L"\\" + kMainProgram).c_str(), FALSE);
    WriteBytes(app + L"\\Tessaloom.dll", "Tessaloom engine 1.0\r\n");
    WriteBytes(app + L"\\Readme.txt", "Tessaloom 1.0\r\n");
    WriteBytes(update + L"\\TessaloomUpdate.txt",
               "\\\\server\\tessaloom\\updates\r\nTessaloom.dll\r\nReadme.txt\r\nTemplates.dat\r\n");
    WriteBytes(update + L"\\Tessaloom.dll", "Tessaloom engine 2.0\r\n");
    WriteBytes(update + L"\\Readme.txt", "Tessaloom 2.0: what is new\r\n");
    WriteBytes(update + L"\\Templates.dat", std::string(3 * 1024 * 1024, 'T'));
}

void Report(const std::wstring& app) {
    Say(L"Application folder now holds:");
    for (const std::wstring& name : FolderEntries(app)) {
        Say(L"  " + name);
    }
    if (IsFile(app + L"\\started.log")) {
        Say(L"The main program was started as: " + ReadUtf16File(app + L"\\started.log"));
    } else {
        Say(L"The main program was not started.");
    }
}

// The window as it opens on a display at 150 % (144 DPI), closed again
// without touching anything.
bool SaveScaledLook(const std::wstring& demo, const std::wstring& app) {
    LogPixels display(144);
    UpdaterRun run(app + L"\\TessaloomUpdate.exe", L" " + app + L"\\" + kMainProgram, demo);
    HWND window = run.WaitForWindow(L"Tessaloom UPDATES");
    if (window == nullptr) {
        Say(L"No window appeared at 150 %.");
        return false;
    }
    Sleep(300);  // let it paint before it is captured
    SaveScreenshot(window, demo + L"\\0-pending-150.bmp");
    PostMessageW(window, WM_CLOSE, 0, 0);
    run.WaitForExit();
    Say(L"Saved the window at 150 % (144 DPI).");
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fwprintf(stderr, L"usage: demo_driver DEMO_FOLDER [--interactive]\n");
        return 2;
    }
    const std::wstring demo = argv[1];
    const bool interactive = argc > 2 && std::wstring(argv[2]) == L"--interactive";
    const std::wstring app = demo + L"\\Program Files\\Tessaloom";
    const std::wstring documents = demo + L"\\Documents";
    const std::wstring update = documents + L"\\My TessaloomSaaS Projects\\Update";
    Prepare(app, update);
    DocumentsRedirect redirect(documents);
    if (!interactive && !SaveScaledLook(demo, app)) {
        return 1;
    }

    UpdaterRun run(app + L"\\TessaloomUpdate.exe", L" " + app + L"\\" + kMainProgram, demo);
    Say(L"Started the updater with the main program's path as its command line.");
    HWND window = run.WaitForWindow(L"Tessaloom UPDATES");
    if (window == nullptr) {
        Say(L"No window appeared.");
        return 1;
    }
    Say(L"The window lists:");
    for (const std::wstring& line : ListBoxLines(FindChild(window, L"ListBox"))) {
        Say(L"  " + line);
    }
    if (interactive) {
        Say(L"Press Update or Cancel in the window.");
        run.WaitForExit(std::chrono::hours(1));
        Report(app);
        return 0;
    }
    SaveScreenshot(window, demo + L"\\1-pending.bmp");
    Say(L"Pressing Update.");
    Click(FindChild(window, L"Button", L"Update"));
    HWND box = run.WaitForMessageBox();
    if (box == nullptr) {
        Say(L"No message appeared.");
        return 1;
    }
    Sleep(300);  // let the box paint before it is captured
    SaveScreenshot(window, demo + L"\\2-progress.bmp");
    SaveScreenshot(box, demo + L"\\3-message.bmp");
    Say(L"Message \"" + WindowText(box) + L"\": " + MessageBoxText(box));
    DismissMessageBox(box);
    run.WaitForExit();
    Sleep(500);  // the main program writes its record a moment after it starts
    Report(app);
    return 0;
}
