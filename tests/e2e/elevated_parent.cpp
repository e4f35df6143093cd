// The updater's walk where the application folder is not writable, with the
// real files, processes, pipe and elevated instance: Form1 on the Win32
// services, told only that it may not write there; its window and boxes are
// recorded instead of shown. "runas" under Wine starts this same program,
// which then serves as the elevated instance. What the window showed goes to
// "parent.log" beside it, one entry a line, UTF-8. With
// TESSALOOM_PARENT_WINDOW set, it shows the real window and message boxes
// instead (the pictures from TessaloomUpdate.exe beside it) and waits for the
// user, as the updater does.
//
// It also plays the intruders the pipe's checks keep out, as processes of
// the same user running this same image:
//   |serve <pipe> <update folder>   a server that is not the elevated
//                                   instance's parent offers it a plan; what
//                                   came back goes to "rogue.log"
//   |rogue-client <pipe>            connects to the window's pipe; the plan,
//                                   if it is handed one, goes to "rogue.log"
// With TESSALOOM_TEST_ROGUE_CLIENT set, the elevated instance starts a rogue
// client in its place and waits for it, connecting to nothing itself. With
// TESSALOOM_TEST_SWAP_SOURCES set, once the plan has come (the window has
// opened every new file), the update folder is moved aside and another one
// with other content takes its name, as a process of the user could do.
//
// Wine reports every folder as owned by the user, with an access list made
// from its Unix permissions, and keeps no other: both sides see the folders'
// reparse points as they are but their owner and access list as an installer
// leaves them under Program Files, unless TESSALOOM_TEST_REAL_GUARDS is set.
//
// With TESSALOOM_TEST_HAND_OVER set, the window hands over, in place of each
// new file it opened, what a program injected into it could: "writable", the
// same file opened for writing too, rewritten (one byte of its code) once the
// plan is sent; "folder", the update folder; "pipe", the read end of a pipe.

#include <windows.h>

#include "app/elevated.h"
#include "core/elevated_command.h"
#include "update/signatures.h"
#include "core/text.h"
#include "fakes.h"
#include "services/authenticode.h"
#include "services/dialogs.h"
#include "services/elevation.h"
#include "services/files.h"
#include "services/guards.h"
#include "services/process.h"
#include "services/shell_folders.h"
#include "ui/win32_form_window.h"
#include "ui/win32_newer_api.h"
#include "win32/handles.h"

using namespace tessaloom;

namespace {

// The window's end of the pipe, handing over what TESSALOOM_TEST_HAND_OVER says.
class HandingOverOther final : public Channel {
public:
    HandingOverOther(std::unique_ptr<Channel> channel, std::wstring what)
        : channel_(std::move(channel)), what_(std::move(what)) {}
    void Send(std::string_view message) override {
        channel_->Send(message);
        for (const UniqueFile& file : writable_) {
            // One byte of the code, well before the signature, turned into its complement.
            OVERLAPPED at{};
            at.Offset = 1024;
            char byte = 0;
            DWORD moved = 0;
            ReadFile(file.Get(), &byte, 1, &moved, &at);
            byte = static_cast<char>(~byte);
            WriteFile(file.Get(), &byte, 1, &moved, &at);
        }
    }
    std::optional<std::string> Receive() override { return channel_->Receive(); }
    std::uint64_t HandOver(std::unique_ptr<SourceFile> source) override {
        const auto opened = reinterpret_cast<HANDLE>(source->Native());
        UniqueFile other;
        if (what_ == L"writable") {
            std::wstring path(32768, L'\0');
            path.resize(GetFinalPathNameByHandleW(opened, path.data(), static_cast<DWORD>(path.size()), 0));
            source.reset();
            other.Reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
            DuplicateHandle(GetCurrentProcess(), other.Get(), GetCurrentProcess(), writable_.emplace_back().Put(), 0,
                            FALSE, DUPLICATE_SAME_ACCESS);
        } else if (what_ == L"folder") {
            std::wstring path(32768, L'\0');
            path.resize(GetFinalPathNameByHandleW(opened, path.data(), static_cast<DWORD>(path.size()), 0));
            path.resize(path.find_last_of(L'\\'));
            other.Reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        } else {
            HANDLE write = nullptr;
            CreatePipe(other.Put(), &write, nullptr, 0);
            kept_.emplace_back(write);
        }
        return channel_->HandOver(std::make_unique<Win32SourceFile>(std::move(other)));
    }
    std::unique_ptr<SourceFile> TakeOver(std::uint64_t number) override { return channel_->TakeOver(number); }

private:
    std::unique_ptr<Channel> channel_;
    std::wstring what_;
    std::vector<UniqueFile> writable_;  // kept open while the instance works
    std::vector<UniqueKernelHandle> kept_;
};

class NotWritable final : public Elevation {
public:
    bool CanWrite(const std::wstring&) override { return false; }
    std::unique_ptr<Channel> StartElevated(std::uintptr_t window) override {
        std::unique_ptr<Channel> channel = real_.StartElevated(window);
        wchar_t what[16] = {};
        if (channel && GetEnvironmentVariableW(L"TESSALOOM_TEST_HAND_OVER", what, 16) != 0) {
            return std::make_unique<HandingOverOther>(std::move(channel), what);
        }
        return channel;
    }

private:
    Win32Elevation real_;
};

// The real folders, guarded as installed (see above).
class InstalledGuards final : public Guards {
public:
    Guard Folder(const std::wstring& path) override {
        Guard guard = real_.Folder(path);
        if (guard.found && GetEnvironmentVariableW(L"TESSALOOM_TEST_REAL_GUARDS", nullptr, 0) == 0) {
            const Guard installed = test::FakeGuards::Installed();
            guard.owner = installed.owner;
            guard.hasDacl = installed.hasDacl;
            guard.dacl = installed.dacl;
        }
        return guard;
    }
    bool IsReparsePoint(const std::wstring& path) override { return real_.IsReparsePoint(path); }

private:
    Win32Guards real_;
};

void Record(Win32Files& files, Win32Process& process, const std::string& text) {
    files.WriteWholeFile(Join(process.ApplicationFolder(), L"rogue.log"), text);
}

// A server of a pipe named like ours that hands whoever connects a plan.
int Serve(Win32Files& files, Win32Process& process, const std::wstring& pipeName, const std::wstring& folder) {
    UniqueFile pipe(CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1,
                                     65536, 65536, 0, nullptr));
    if (!pipe) {
        return 1;
    }
    ConnectNamedPipe(pipe.Get(), nullptr);
    const std::string plan = std::string("plan\0", 5) + EncodeUtf8(folder) + std::string("\0one.dll", 8);
    DWORD moved = 0;
    WriteFile(pipe.Get(), plan.data(), static_cast<DWORD>(plan.size()), &moved, nullptr);
    char reply[4096];
    const bool answered = ReadFile(pipe.Get(), reply, sizeof reply, &moved, nullptr) != FALSE;
    Record(files, process, answered ? "reply " + std::string(reply, moved) : "no reply");
    return 0;
}

// A client of the window's pipe that is not the process the window started.
int RogueClient(Win32Files& files, Win32Process& process, const std::wstring& pipeName) {
    UniqueFile pipe;
    for (int attempt = 0; attempt < 1000 && !pipe; ++attempt) {
        pipe.Reset(CreateFileW(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!pipe) {
            Sleep(10);
        }
    }
    if (!pipe) {
        return 1;
    }
    char message[4096];
    DWORD read = 0;
    if (ReadFile(pipe.Get(), message, sizeof message, &read, nullptr)) {
        Record(files, process, "handed " + std::string(message, read));
    }
    return 0;
}

int StartRogueClientInstead(const std::wstring& pipeName) {
    std::wstring commandLine = L"\"" + ModuleFileName(nullptr) + L"\" |rogue-client " + pipeName;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
        return 1;
    }
    UniqueKernelHandle rogue(started.hProcess);
    UniqueKernelHandle thread(started.hThread);
    WaitForSingleObject(rogue.Get(), 30000);
    return 0;
}

// The elevated instance's channel, which swaps the update folder as soon as
// the plan has come.
class SwappingChannel final : public Channel {
public:
    SwappingChannel(Channel& channel, Win32Files& files) : channel_(channel), files_(files) {}
    void Send(std::string_view message) override { channel_.Send(message); }
    std::optional<std::string> Receive() override {
        std::optional<std::string> message = channel_.Receive();
        if (const auto plan = message ? DecodePlan(*message) : std::nullopt; plan && !swapped_) {
            swapped_ = true;
            const std::wstring& folder = plan->updateFolder;
            if (!MoveFileExW(folder.c_str(), (folder + L".moved").c_str(), 0)) {
                return std::nullopt;  // the test sees nothing applied and fails
            }
            files_.CreateFolders(folder);
            for (const std::wstring& name : plan->names) {
                files_.WriteWholeFile(Join(folder, name), "planted");
            }
        }
        return message;
    }
    std::uint64_t HandOver(std::unique_ptr<SourceFile> source) override { return channel_.HandOver(std::move(source)); }
    std::unique_ptr<SourceFile> TakeOver(std::uint64_t number) override { return channel_.TakeOver(number); }

private:
    Channel& channel_;
    Win32Files& files_;
    bool swapped_ = false;
};

// The real window and boxes, driven by whoever tests it.
int RunWithWindow(HINSTANCE instance, Files& files, Process& process, Elevation& elevation, Guards& guards) {
    const std::wstring updater = Join(process.ApplicationFolder(), L"TessaloomUpdate.exe");
    const UniqueModule pictures(
        LoadLibraryExW(updater.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE));
    Win32FormWindow window(instance, pictures.Get());
    Win32Dialogs dialogs(window);
    test::FakeRegistry registry;
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

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // As the updater does first thing: DLLs from System32 only.
    ui::LimitDllSearchToSystem32();
    Win32Files files;
    Win32Process process;
    InstalledGuards guards;
    const std::wstring arguments(TrimSpaces(process.CommandLine()));
    if (arguments.starts_with(L"|serve ")) {
        const std::wstring rest = arguments.substr(7);
        const std::size_t space = rest.find(L' ');
        return Serve(files, process, rest.substr(0, space), rest.substr(space + 1));
    }
    if (arguments.starts_with(L"|rogue-client ")) {
        return RogueClient(files, process, arguments.substr(14));
    }
    if (const auto elevated = ParseElevatedCommand(process.CommandLine())) {
        if (GetEnvironmentVariableW(L"TESSALOOM_TEST_ROGUE_CLIENT", nullptr, 0) != 0) {
            return StartRogueClientInstead(elevated->pipe);
        }
        try {
            const std::unique_ptr<Channel> parent = ConnectToParent(*elevated);
            if (GetEnvironmentVariableW(L"TESSALOOM_TEST_SWAP_SOURCES", nullptr, 0) != 0) {
                SwappingChannel swapping(*parent, files);
                Win32Signatures signatures;
                return ApplyForParent(files, guards, process.ApplicationFolder(), swapping,
                                      SignatureCheck(signatures, process.ApplicationFolder(), ModuleFileName(nullptr)));
            }
            // Signed files are replaced only by files of the same signer.
            Win32Signatures signatures;
            return ApplyForParent(files, guards, process.ApplicationFolder(), *parent,
                                  SignatureCheck(signatures, process.ApplicationFolder(), ModuleFileName(nullptr)));
        } catch (...) {
            return CurrentError().Number();
        }
    }
    NotWritable elevation;
    if (GetEnvironmentVariableW(L"TESSALOOM_PARENT_WINDOW", nullptr, 0) != 0) {
        return RunWithWindow(instance, files, process, elevation, guards);
    }
    test::Journal journal;
    test::FakeDialogs dialogs(journal);
    test::FakeRegistry registry;
    test::RecordingView view;
    Form1 form(Platform{files, process, dialogs, registry, view, DecodeAnsi,
                        [] { return std::make_unique<Win32SpecialFolder>(); }, elevation, guards});
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
