#include "services/process.h"

#include <windows.h>

#include <cstdint>
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
    // Each number, at least so many digits long, and what follows it.
    const struct {
        long long value;
        int digits;
        const wchar_t* after;
    } parts[] = {{time.wYear, 4, L"-"},   {time.wMonth, 2, L"-"},  {time.wDay, 2, L" "},
                 {time.wHour, 2, L":"},   {time.wMinute, 2, L":"}, {time.wSecond, 2, minutes < 0 ? L" UTC-" : L" UTC+"},
                 {offset / 60, 2, L":"}, {offset % 60, 2, L""}};
    std::wstring text;
    for (const auto& part : parts) {
        text += DecimalText(part.value, part.digits);
        text += part.after;
    }
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

std::wstring ProcessImage(HANDLE process) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD size = static_cast<DWORD>(path.size());
        if (QueryFullProcessImageNameW(process, 0, path.data(), &size)) {
            path.resize(size);
            return path;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || path.size() > 32768) {
            return {};
        }
        path.resize(path.size() * 2);
    }
}

bool SamePath(const std::wstring& first, const std::wstring& second) {
    return !first.empty() && CompareStringOrdinal(first.c_str(), static_cast<int>(first.size()), second.c_str(),
                                                  static_cast<int>(second.size()), TRUE) == CSTR_EQUAL;
}

std::wstring ClaimPipeName(const std::wstring& applicationFolder) {
    std::wstring folder = applicationFolder;
    CharUpperBuffW(folder.data(), static_cast<DWORD>(folder.size()));
    std::uint64_t hash = 0xCBF29CE484222325ULL;  // FNV-1a
    for (const wchar_t c : folder) {
        hash = (hash ^ static_cast<std::uint16_t>(c)) * 0x100000001B3ULL;
    }
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return L"\\\\.\\pipe\\TessaloomUpdate.claim." + DecimalText(session) + L"." + HexText(hash, 16);
}

// The claim: the one instance of the claim pipe, whose server the system
// names to every client. An updater that finds the name taken connects and
// steps aside only when that server is an updater of this session running
// this same executable. One client at a time connects, looks and goes; a
// thread of its own lets the next one in, so the window's thread never waits.
class ClaimServer {
public:
    explicit ClaimServer(UniqueFile pipe)
        : pipe_(std::move(pipe)),
          stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        if (stop_ && done_) {
            thread_.Reset(CreateThread(nullptr, 0, &ClaimServer::Run, this, 0, nullptr));
        }
    }
    ~ClaimServer() {
        if (thread_) {
            SetEvent(stop_.Get());
            WaitForSingleObject(thread_.Get(), INFINITE);
        }
    }
    ClaimServer(const ClaimServer&) = delete;
    ClaimServer& operator=(const ClaimServer&) = delete;

private:
    // Runs one overlapped operation to its end and puts its outcome in
    // `error`; false, with the operation cancelled, once the claim is released.
    template <typename Start>
    bool Await(Start start, DWORD& error) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = done_.Get();
        error = start(overlapped) ? ERROR_SUCCESS : GetLastError();
        DWORD moved = 0;
        if (error == ERROR_IO_PENDING) {
            const HANDLE waits[] = {stop_.Get(), done_.Get()};
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
                CancelIoEx(pipe_.Get(), &overlapped);
                GetOverlappedResult(pipe_.Get(), &overlapped, &moved, TRUE);
                return false;
            }
            error = GetOverlappedResult(pipe_.Get(), &overlapped, &moved, FALSE) ? ERROR_SUCCESS : GetLastError();
        }
        return WaitForSingleObject(stop_.Get(), 0) != WAIT_OBJECT_0;
    }

    static DWORD WINAPI Run(void* server) {
        static_cast<ClaimServer*>(server)->Serve();
        return 0;
    }

    void Serve() {
        DWORD error = ERROR_SUCCESS;
        while (Await([this](OVERLAPPED& o) { return ConnectNamedPipe(pipe_.Get(), &o); }, error)) {
            if (error == ERROR_SUCCESS || error == ERROR_PIPE_CONNECTED) {
                // Until the client goes; whatever it sends is dropped.
                char ignored = 0;
                bool serving = true;
                while (serving &&
                       (error == ERROR_SUCCESS || error == ERROR_PIPE_CONNECTED || error == ERROR_MORE_DATA)) {
                    serving =
                        Await([&](OVERLAPPED& o) { return ReadFile(pipe_.Get(), &ignored, 1, nullptr, &o); }, error);
                }
                if (!serving) {
                    return;
                }
            } else if (error != ERROR_NO_DATA) {
                return;  // it cannot listen: updaters that ask go on, as for a squatted name
            }
            DisconnectNamedPipe(pipe_.Get());
        }
    }

    UniqueFile pipe_;
    UniqueKernelHandle stop_;
    UniqueKernelHandle done_;
    UniqueKernelHandle thread_;
};

namespace {

// True when the claim pipe's server is an updater of this session running
// `image`. A holder busy with another client is given a moment.
bool HeldByUpdater(const std::wstring& name, const std::wstring& image) {
    UniqueFile client;
    for (int attempt = 0; attempt < 2 && !client; ++attempt) {
        client.Reset(CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
        if (client || GetLastError() != ERROR_PIPE_BUSY || !WaitNamedPipeW(name.c_str(), 500)) {
            break;
        }
    }
    ULONG server = 0;
    DWORD ours = 0;
    DWORD theirs = 0;
    if (!client || !GetNamedPipeServerProcessId(client.Get(), &server) ||
        !ProcessIdToSessionId(GetCurrentProcessId(), &ours) || !ProcessIdToSessionId(server, &theirs) ||
        ours != theirs) {
        return false;
    }
    const UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, server));
    return process && SamePath(ProcessImage(process.Get()), image);
}

}  // namespace

Win32Process::Win32Process() = default;
Win32Process::~Win32Process() = default;

Claim Win32Process::ClaimApplicationFolder() {
    if (claim_) {
        return Claim::Taken;
    }
    try {
        const std::wstring name = ClaimPipeName(ApplicationFolder());
        UniqueFile pipe(CreateNamedPipeW(name.c_str(),
                                         PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
                                         PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 0, 0, nullptr));
        if (pipe) {
            claim_ = std::make_unique<ClaimServer>(std::move(pipe));
            return Claim::Taken;
        }
        return HeldByUpdater(name, ModulePath()) ? Claim::Updater : Claim::Squatted;
    } catch (...) {
        return Claim::Squatted;  // nothing can tell: go on, as without a claim
    }
}

void Win32Process::ReleaseApplicationFolder() { claim_.reset(); }

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
