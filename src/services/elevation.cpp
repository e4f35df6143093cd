#include "services/elevation.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <vector>

#include "core/error.h"
#include "core/text.h"
#include "services/files.h"
#include "services/process.h"
#include "win32/handles.h"
#include "win32/message_wait.h"
#include "win32/win32_error.h"

namespace tessaloom {
namespace {

constexpr DWORD kPipeBuffer = 64 * 1024;

std::wstring UniqueSuffix() {
    static std::atomic<unsigned> counter{0};
    LARGE_INTEGER ticks{};
    QueryPerformanceCounter(&ticks);
    return HexText(GetCurrentProcessId(), 8) + L"." + HexText(static_cast<std::uint64_t>(ticks.QuadPart), 16) + L"." +
           DecimalText(counter.fetch_add(1));
}

[[noreturn]] void Refuse(const std::wstring& why) { throw RuntimeError(kErrAccessDenied, L"Access is denied: " + why); }

// The number of a file on its volume, asked of the file system itself
// (FileInternalInformation): no other process is asked, as for
// GetFileInformationByHandle's volume serial number under Wine.
std::optional<std::int64_t> FileIndex(HANDLE file) {
    struct IoStatus {
        union {
            LONG status;
            void* pointer;
        };
        ULONG_PTR information;
    };
    using Query = LONG(NTAPI*)(HANDLE, IoStatus*, void*, ULONG, int);
    static const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
    constexpr int kFileInternalInformation = 6;
    IoStatus status{};
    LARGE_INTEGER index{};
    if (query == nullptr || query(file, &status, &index, sizeof index, kFileInternalInformation) < 0) {
        return std::nullopt;
    }
    return index.QuadPart;
}

// Waits for overlapped I/O on the pipe while this thread's windows keep
// answering. Should the wait itself fail, the I/O is cancelled and waited
// for, so the system writes to no buffer that is gone.
void AwaitCompletion(HANDLE pipe, OVERLAPPED& overlapped) {
    try {
        WaitDispatching({&overlapped.hEvent, 1}, INFINITE);
    } catch (...) {
        CancelIoEx(pipe, &overlapped);
        DWORD ignored = 0;
        GetOverlappedResult(pipe, &overlapped, &ignored, TRUE);
        throw;
    }
}

// The bytes moved by overlapped I/O that `started` began on `pipe`, or
// nothing when the other end has gone; `more` when a message goes on.
std::optional<DWORD> Complete(HANDLE pipe, OVERLAPPED& overlapped, BOOL started, bool& more) {
    DWORD moved = 0;
    DWORD error = started ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_IO_PENDING) {
        AwaitCompletion(pipe, overlapped);
    }
    if (started || error == ERROR_IO_PENDING || error == ERROR_MORE_DATA) {
        error = GetOverlappedResult(pipe, &overlapped, &moved, FALSE) ? ERROR_SUCCESS : GetLastError();
    }
    more = error == ERROR_MORE_DATA;
    if (error == ERROR_SUCCESS || more) {
        return moved;
    }
    if (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED || error == ERROR_NO_DATA) {
        return std::nullopt;
    }
    throw SystemError(error);
}

// Whole messages over a message-mode pipe opened for overlapped I/O.
//
// Open files cross it as handle values: the window's end keeps each file it
// hands over open; the elevated end duplicates it from the window's process,
// the one it checked (`parent`, opened with PROCESS_DUP_HANDLE).
class PipeChannel final : public Channel {
public:
    explicit PipeChannel(UniqueFile pipe, UniqueKernelHandle parent = {})
        : pipe_(std::move(pipe)), parent_(std::move(parent)), event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        if (!event_) {
            throw LastError();
        }
    }
    std::uint64_t HandOver(std::unique_ptr<SourceFile> source) override {
        const std::uintptr_t handle = source->Native();
        if (handle == 0) {
            throw RuntimeError(kErrInternal, L"Internal error: only an open file can be handed over");
        }
        const auto number = static_cast<std::uint64_t>(handle);
        handedOver_.push_back(std::move(source));
        return number;
    }
    std::unique_ptr<SourceFile> TakeOver(std::uint64_t number) override {
        if (!parent_) {
            throw RuntimeError(kErrInternal, L"Internal error: files are handed over only to the elevated instance");
        }
        UniqueFile handed;
        const auto handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(number));
        if (!DuplicateHandle(parent_.Get(), handle, GetCurrentProcess(), handed.Put(), 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            throw LastError();
        }
        // The type first: a pipe's information is not asked for at all.
        const DWORD type = GetFileType(handed.Get());
        FILE_BASIC_INFO basic{};
        if (type != FILE_TYPE_DISK ||
            !GetFileInformationByHandleEx(handed.Get(), FileBasicInfo, &basic, sizeof basic) ||
            !IsFileOnDisk(type, basic.FileAttributes)) {
            Refuse(L"what was handed over is not a file");
        }
        // A file object of our own, for reading only, with its own position
        // and writers kept out: the handle handed over may write, and the
        // other side shares its position.
        UniqueFile file(ReOpenFile(handed.Get(), GENERIC_READ, FILE_SHARE_READ, FILE_FLAG_SEQUENTIAL_SCAN));
        if (!file) {
            const DWORD error = GetLastError();
            if (error == ERROR_SHARING_VIOLATION) {
                Refuse(L"a new file handed over can still be changed by another program");
            }
            throw SystemError(error);
        }
        // Windows opens the same file again; Wine opens its path again, which
        // the user may have pointed at another file meanwhile.
        const std::optional<std::int64_t> index = FileIndex(file.Get());
        if (!index || index != FileIndex(handed.Get())) {
            Refuse(L"a new file handed over is no longer at its place");
        }
        return std::make_unique<Win32SourceFile>(std::move(file));
    }
    void Send(std::string_view message) override {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_.Get();
        bool more = false;
        const BOOL started =
            WriteFile(pipe_.Get(), message.data(), static_cast<DWORD>(message.size()), nullptr, &overlapped);
        const std::optional<DWORD> written = Complete(pipe_.Get(), overlapped, started, more);
        if (!written || *written != message.size()) {
            throw SystemError(ERROR_BROKEN_PIPE);
        }
    }
    std::optional<std::string> Receive() override {
        std::string message;
        for (;;) {
            char buffer[4096];
            OVERLAPPED overlapped{};
            overlapped.hEvent = event_.Get();
            bool more = false;
            const BOOL started = ReadFile(pipe_.Get(), buffer, sizeof buffer, nullptr, &overlapped);
            const std::optional<DWORD> read = Complete(pipe_.Get(), overlapped, started, more);
            if (!read) {
                return std::nullopt;
            }
            message.append(buffer, *read);
            if (!more) {
                return message;
            }
        }
    }

private:
    UniqueFile pipe_;
    UniqueKernelHandle parent_;
    UniqueKernelHandle event_;
    std::vector<std::unique_ptr<SourceFile>> handedOver_;
};

// Who may open our pipes: the user who started this window and Administrators
// (the elevated instance may run as another administrator), with no one
// else, and neither of them may create another instance of it.
class PipeSecurity {
public:
    PipeSecurity() {
        UniqueKernelHandle token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) {
            throw LastError();
        }
        DWORD size = 0;
        GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
        user_.resize(size);
        if (size == 0 || !GetTokenInformation(token.Get(), TokenUser, user_.data(), size, &size)) {
            throw LastError();
        }
        const PSID user = reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid;
        admins_.resize(SECURITY_MAX_SID_SIZE);
        size = static_cast<DWORD>(admins_.size());
        if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins_.data(), &size)) {
            throw LastError();
        }
        const PSID admins = admins_.data();
        acl_.resize(sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) + GetLengthSid(user) +
                    GetLengthSid(admins));
        constexpr DWORD kAccess = (FILE_GENERIC_READ | FILE_GENERIC_WRITE) & ~FILE_CREATE_PIPE_INSTANCE;
        auto* const acl = reinterpret_cast<ACL*>(acl_.data());
        if (!InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, kAccess, user) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, kAccess, admins) ||
            !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE)) {
            throw LastError();
        }
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = FALSE;
    }
    PipeSecurity(const PipeSecurity&) = delete;
    PipeSecurity& operator=(const PipeSecurity&) = delete;

    SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

private:
    std::vector<unsigned char> user_;  // TOKEN_USER and the SID it points into
    std::vector<unsigned char> admins_;
    std::vector<unsigned char> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace

// Creating a file is what applying needs. Only "access denied" means that
// administrator rights could help; any other failure is left to the walk,
// which reports it.
bool Win32Elevation::CanWrite(const std::wstring& folder) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::wstring probe = folder + L"\\TessaloomUpdate.probe." + UniqueSuffix();
        UniqueFile file(CreateFileW(probe.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                    nullptr));
        if (file) {
            return true;  // removed as it closes
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            return error != ERROR_ACCESS_DENIED;
        }
    }
    return true;
}

UniqueFile CreateUpdaterPipe(const std::wstring& name) {
    if (!IsUpdaterPipeName(name)) {
        Refuse(name + L" is not a pipe of this updater");
    }
    // Only this process creates the pipe (first instance, one instance, no
    // remote clients), and only the process it starts may be its client.
    PipeSecurity security;
    UniqueFile pipe(CreateNamedPipeW(name.c_str(),
                                     PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                     1, kPipeBuffer, kPipeBuffer, 0, security.Attributes()));
    if (!pipe) {
        throw LastError();
    }
    return pipe;
}

std::unique_ptr<Channel> Win32Elevation::StartElevated(std::uintptr_t window) {
    const std::wstring name = std::wstring(kPipePrefix) + UniqueSuffix();
    UniqueFile pipe = CreateUpdaterPipe(name);
    const std::wstring exe = ModuleFileName(nullptr);
    const std::wstring parameters = FormatElevatedCommand({name, GetCurrentProcessId()});
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    info.hwnd = reinterpret_cast<HWND>(window);
    info.lpVerb = L"runas";
    info.lpFile = exe.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info)) {
        const DWORD error = GetLastError();
        if (error == ERROR_CANCELLED) {
            return nullptr;  // the user said no
        }
        throw SystemError(error);
    }
    UniqueKernelHandle child(info.hProcess);
    if (!child) {
        throw RuntimeError(kErrInternal, L"Internal error: the updater was not started with administrator rights");
    }

    UniqueKernelHandle connected(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!connected) {
        throw LastError();
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = connected.Get();
    if (!ConnectNamedPipe(pipe.Get(), &overlapped)) {
        const DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            // Until it connects, or ends without connecting; the window
            // keeps answering meanwhile.
            const HANDLE waits[] = {connected.Get(), child.Get()};
            std::size_t signalled = 0;
            try {
                signalled = WaitDispatching(waits, INFINITE);
            } catch (...) {
                CancelIo(pipe.Get());
                DWORD ignored = 0;
                GetOverlappedResult(pipe.Get(), &overlapped, &ignored, TRUE);
                throw;
            }
            if (signalled != 0) {
                CancelIo(pipe.Get());
                DWORD ignored = 0;
                GetOverlappedResult(pipe.Get(), &overlapped, &ignored, TRUE);
                DWORD code = 0;
                GetExitCodeProcess(child.Get(), &code);
                throw RuntimeError(
                    static_cast<std::int32_t>(code),
                    L"The updater with administrator rights ended before it connected: " + SystemMessage(code));
            }
            DWORD ignored = 0;
            if (!GetOverlappedResult(pipe.Get(), &overlapped, &ignored, TRUE)) {
                throw LastError();
            }
        } else if (error != ERROR_PIPE_CONNECTED) {
            throw SystemError(error);
        }
    }
    ULONG client = 0;
    if (!GetNamedPipeClientProcessId(pipe.Get(), &client) || client != GetProcessId(child.Get())) {
        Refuse(L"another process connected to " + name);
    }
    return std::make_unique<PipeChannel>(std::move(pipe));
}

std::unique_ptr<Channel> ConnectToParent(const ElevatedCommand& command) {
    if (!IsUpdaterPipeName(command.pipe)) {
        Refuse(command.pipe + L" is not a pipe of this updater");
    }
    UniqueFile pipe(CreateFileW(command.pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    if (!pipe) {
        throw LastError();
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(pipe.Get(), &mode, nullptr, nullptr)) {
        throw LastError();
    }
    ULONG server = 0;
    if (!GetNamedPipeServerProcessId(pipe.Get(), &server) || server != command.parentId) {
        Refuse(command.pipe + L" is not served by process " + DecimalText(command.parentId));
    }
    // The process whose image is checked is the one files are taken from.
    UniqueKernelHandle parent(OpenProcess(PROCESS_DUP_HANDLE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, server));
    if (!parent || !SamePath(ProcessImage(parent.Get()), ModuleFileName(nullptr))) {
        Refuse(L"process " + DecimalText(server) + L" is not this updater");
    }
    return std::make_unique<PipeChannel>(std::move(pipe), std::move(parent));
}

}  // namespace tessaloom
