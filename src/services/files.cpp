#include "services/files.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "core/digest.h"
#include "core/text.h"
#include "win32/handles.h"
#include "win32/message_wait.h"
#include "win32/win32_error.h"
#include "win32/win32_text.h"

namespace tessaloom {
namespace {

constexpr DWORD kNotOrdinary = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
// A copy reads and writes this much at a time: small enough that a chunk from
// a slow source (a network drive at 1 MB/s) takes a fraction of a second, so
// the window's thread is back between chunks well within the system's patience.
constexpr DWORD kCopyStep = 256 << 10;
// How often, at most, a copy reports its progress: often enough that the
// window answers at once, seldom enough that repainting costs the copy nothing.
constexpr ULONGLONG kProgressInterval = 50;
constexpr LONGLONG kLargestReadableFile = 64LL << 20;

// The buffers every copy, comparison and digest reads through, one for each
// side of a comparison, made on first use and kept. Files are read on one
// thread, one at a time; a fresh block for each file would cost more in page
// faults than a small file's copy.
char* CopyBuffer(int side) {
    static char* const buffers = new char[2 * kCopyStep];
    return buffers + side * kCopyStep;
}

// Keeps the system from asking the user to insert a disk while a path on a
// missing or empty drive is looked at; the failure comes back as an error code.
class QuietCriticalErrors {
public:
    QuietCriticalErrors() { SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previous_); }
    ~QuietCriticalErrors() { SetThreadErrorMode(previous_, nullptr); }
    QuietCriticalErrors(const QuietCriticalErrors&) = delete;
    QuietCriticalErrors& operator=(const QuietCriticalErrors&) = delete;

private:
    DWORD previous_ = 0;
};

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void FlushOrThrow(HANDLE file) {
    if (!FlushFileBuffers(file)) {
        throw LastError();
    }
}

// What flushing a file failed with, or ERROR_SUCCESS.
DWORD FlushError(HANDLE file) { return FlushFileBuffers(file) ? ERROR_SUCCESS : GetLastError(); }

// Guard the flush states of kept copies, whose flushes run on the system's
// thread pool while the next copies are made: the disk writes out one copy
// while the next is made, and the commit's flushes find their work done.
SRWLOCK flushLock = SRWLOCK_INIT;
CONDITION_VARIABLE flushEnded = CONDITION_VARIABLE_INIT;
// How often a wait for such a flush reads the window's messages, in ms.
constexpr DWORD kAnswerInterval = 100;

// A copy kept open, writers and readers kept out, until it is flushed.
class Win32WrittenFile final : public WrittenFile {
public:
    explicit Win32WrittenFile(UniqueFile file) : file_(std::move(file)) {}
    ~Win32WrittenFile() override { BackgroundFlush(); }
    Win32WrittenFile(const Win32WrittenFile&) = delete;
    Win32WrittenFile& operator=(const Win32WrittenFile&) = delete;

    void StartFlush() override {
        state_ = kStarted;
        if (!QueueUserWorkItem(&FlushInBackground, this, WT_EXECUTEDEFAULT)) {
            state_ = kNotStarted;  // flushed when asked
        }
    }
    // A flush that failed is never tried again: the system may have dropped
    // what it could not write, and a second flush would then succeed.
    void Flush() override {
        if (BackgroundFlush() == kNotStarted) {
            error_ = FlushError(file_.Get());
            state_ = kEnded;  // no other thread has it
        }
        if (error_ != ERROR_SUCCESS) {
            throw SystemError(error_);
        }
    }

private:
    enum State { kNotStarted, kStarted, kEnded };

    // Waits for a flush started in the background to end; a slow drive's
    // can take seconds, so the window's messages are read meanwhile.
    State BackgroundFlush() {
        AcquireSRWLockExclusive(&flushLock);
        while (state_ == kStarted) {
            if (!SleepConditionVariableSRW(&flushEnded, &flushLock, kAnswerInterval, 0)) {
                ReleaseSRWLockExclusive(&flushLock);
                DispatchWaitingMessages();
                AcquireSRWLockExclusive(&flushLock);
            }
        }
        const State state = state_;
        ReleaseSRWLockExclusive(&flushLock);
        return state;
    }
    static DWORD WINAPI FlushInBackground(void* self) {
        Win32WrittenFile& file = *static_cast<Win32WrittenFile*>(self);
        const DWORD error = FlushError(file.file_.Get());
        AcquireSRWLockExclusive(&flushLock);
        file.error_ = error;
        file.state_ = kEnded;
        ReleaseSRWLockExclusive(&flushLock);
        WakeAllConditionVariable(&flushEnded);
        return 0;
    }

    UniqueFile file_;
    State state_ = kNotStarted;    // changed under flushLock once started
    DWORD error_ = ERROR_SUCCESS;  // of its flush
};

void WriteAll(HANDLE file, const char* data, DWORD size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(file, data, size, &written, nullptr)) {
            throw LastError();
        }
        if (written == 0) {
            throw SystemError(ERROR_WRITE_FAULT);
        }
        data += written;
        size -= written;
    }
}

// Copies what is left of `input` to `output`, then gives the output the
// input's modification time; returns the bytes copied and their digest.
// `progress` is called after the first chunk, then between chunks at most
// every kProgressInterval (and after any chunk that took longer than that).
SourceFile::Copied CopyContent(HANDLE input, HANDLE output, const std::function<void()>& progress) {
    char* const buffer = CopyBuffer(0);
    SourceFile::Copied copied;
    Digest digest;
    ULONGLONG reported = 0;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(input, buffer, kCopyStep, &read, nullptr)) {
            throw LastError();
        }
        if (read == 0) {
            break;
        }
        WriteAll(output, buffer, read);
        digest.Add(buffer, read);
        copied.bytes += read;
        if (const ULONGLONG now = GetTickCount64(); progress && now - reported >= kProgressInterval) {
            reported = now;
            progress();
        }
    }
    copied.digest = digest.Value();
    FILETIME modified{};
    if (!GetFileTime(input, nullptr, nullptr, &modified) || !SetFileTime(output, nullptr, nullptr, &modified)) {
        throw LastError();
    }
    return copied;
}

FileFacts FactsOf(DWORD attributes, std::uint64_t size, std::uint64_t modified) {
    return {.exists = true,
            .folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
            .hiddenOrSystem = (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0,
            .readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0,
            .size = size,
            .modified = modified,
            .link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0};
}

std::uint64_t Combine(DWORD high, DWORD low) { return (static_cast<std::uint64_t>(high) << 32) | low; }

// From this many paths on, their folders are listed rather than each path
// looked up: a name that is not there costs a look through its folder's
// entries (under Wine, whose file systems ignore case), so that a few
// hundred such names cost many times one listing.
constexpr std::size_t kListedFrom = 16;

// A name in ASCII capitals, as a key to compare names as the file system
// does; false for a name the listing cannot answer for: one with another
// character, whose case the file system folds by its own table, one that
// may be a short name (with a '~'), or one ending in a dot or a space,
// which the system strips from the paths it is given.
bool CapitalKey(std::wstring& name) {
    if (name.empty() || name.back() == L'.' || name.back() == L' ') {
        return false;
    }
    for (wchar_t& c : name) {
        if (c >= 0x80 || c == L'~') {
            return false;
        }
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return true;
}

FileFacts FactsOf(const WIN32_FILE_ATTRIBUTE_DATA& data) {
    return FactsOf(data.dwFileAttributes, Combine(data.nFileSizeHigh, data.nFileSizeLow),
                   Combine(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime));
}

// What a listing found: each entry of the folders listed, by its key as a
// whole path.
using Listed = std::map<std::wstring, FileFacts>;

// Adds a folder's entries (the folder is given with its final separator) to
// what was listed; false when the folder cannot be listed or one of its
// names has a character the keys cannot compare, so that not every name it
// holds could be found.
bool AddEntries(const std::wstring& folder, Listed& listed) {
    std::wstring folderKey = folder;
    WIN32_FIND_DATAW entry{};
    UniqueFind find(FindFirstFileW((folder + L'*').c_str(), &entry));
    if (!CapitalKey(folderKey) || !find) {
        return false;
    }
    do {
        const std::wstring_view name = entry.cFileName;
        std::wstring key = folderKey + entry.cFileName;
        if (name != L"." && name != L".." && !CapitalKey(key) && name.find(L'~') == name.npos) {
            return false;
        }
        listed.emplace(std::move(key),
                       FactsOf(entry.dwFileAttributes, Combine(entry.nFileSizeHigh, entry.nFileSizeLow),
                               Combine(entry.ftLastWriteTime.dwHighDateTime, entry.ftLastWriteTime.dwLowDateTime)));
    } while (FindNextFileW(find.Get(), &entry));
    return true;
}

FileFacts FactsOf(HANDLE file) {
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
        !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) {
        throw LastError();
    }
    return FactsOf(basic.FileAttributes, static_cast<std::uint64_t>(standard.EndOfFile.QuadPart),
                   static_cast<std::uint64_t>(basic.LastWriteTime.QuadPart));
}

// Held while a transaction runs: the open lock file, shared with nobody.
class Win32FolderLock final : public FolderLock {
public:
    explicit Win32FolderLock(UniqueFile file) : file_(std::move(file)) {}

private:
    UniqueFile file_;
};

}  // namespace

UniqueFile OpenToRead(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        throw SystemError(error == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : error);
    }
    return file;
}

void Win32SourceFile::Rewind() {
    const LARGE_INTEGER start{};
    if (!SetFilePointerEx(file_.Get(), start, nullptr, FILE_BEGIN)) {
        throw LastError();
    }
}

FileFacts Win32SourceFile::Facts() { return FactsOf(file_.Get()); }

bool Win32SourceFile::SameContentAs(const std::wstring& path) {
    Rewind();
    UniqueFile other = OpenToRead(path);
    char* const left = CopyBuffer(0);
    char* const right = CopyBuffer(1);
    for (;;) {
        DWORD readLeft = 0;
        DWORD readRight = 0;
        if (!ReadFile(file_.Get(), left, kCopyStep, &readLeft, nullptr) ||
            !ReadFile(other.Get(), right, kCopyStep, &readRight, nullptr)) {
            throw LastError();
        }
        if (readLeft != readRight || !std::equal(left, left + readLeft, right)) {
            return false;
        }
        if (readLeft == 0) {
            return true;
        }
    }
}

SourceFile::Copied Win32SourceFile::CopyTo(const std::wstring& to, const std::function<void()>& progress) {
    Rewind();
    UniqueFile output(CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!output) {
        throw LastError();
    }
    SourceFile::Copied copied = CopyContent(file_.Get(), output.Get(), progress);
    copied.file = std::make_unique<Win32WrittenFile>(std::move(output));
    return copied;
}

namespace Module1 {

bool FileExists(const std::wstring& path) {
    if (path.empty()) {
        return false;
    }
    // The listing takes a folder's entries as "folder\*"; a bare trailing
    // separator would name no entry at all.
    const std::wstring pattern = IsSeparator(path.back()) ? path + L"*" : path;
    QuietCriticalErrors quiet;
    // A name without wildcards matches at most one entry, so one attribute
    // query answers it, much cheaper than opening a listing. Patterns and
    // folders (a trailing separator) need the listing.
    if (NamePart(pattern).find_first_of(L"*?<>\"") == std::wstring::npos) {
        const DWORD attributes = GetFileAttributesW(pattern.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & kNotOrdinary) == 0;
    }
    WIN32_FIND_DATAW entry;
    UniqueFind find(FindFirstFileW(pattern.c_str(), &entry));
    if (!find) {
        return false;
    }
    do {
        if ((entry.dwFileAttributes & kNotOrdinary) == 0) {
            return true;
        }
    } while (FindNextFileW(find.Get(), &entry));
    return false;
}

}  // namespace Module1

FileFacts Win32Files::Facts(const std::wstring& path) {
    QuietCriticalErrors quiet;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return {};
    }
    return FactsOf(data);
}

// When many paths are asked for, each folder they are in is listed once,
// and what its listing says of a path is the answer: a path it does not
// hold is not there. Any other path is looked up.
std::vector<FileFacts> Win32Files::FactsOfAll(const std::vector<std::wstring>& paths) {
    QuietCriticalErrors quiet;
    std::set<std::wstring> tried;   // the folders met
    std::set<std::wstring> listed;  // those whose every entry is in `entries`
    Listed entries;
    std::vector<FileFacts> facts(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::wstring folder = paths[i].substr(0, NameStart(paths[i]));
        if (paths.size() >= kListedFrom && tried.insert(folder).second && AddEntries(folder, entries)) {
            listed.insert(folder);
        }
        // A path that names no entry (a folder's, ending in a separator) is
        // looked up too.
        std::wstring key = paths[i];
        if (key.size() > folder.size() && CapitalKey(key) && listed.contains(folder)) {
            if (const auto found = entries.find(key); found != entries.end()) {
                facts[i] = found->second;
            }
        } else if (!key.empty()) {
            facts[i] = Facts(paths[i]);
        }
    }
    return facts;
}

std::unique_ptr<SourceFile> Win32Files::OpenSource(const std::wstring& path) {
    QuietCriticalErrors quiet;
    UniqueFile file;
    try {
        file = OpenToRead(path);
    } catch (const RuntimeError& error) {
        if (error.Number() == kErrFileNotFound) {
            return nullptr;
        }
        throw;
    }
    auto source = std::make_unique<Win32SourceFile>(std::move(file));
    const FileFacts facts = source->Facts();
    if (facts.folder || facts.hiddenOrSystem) {
        return nullptr;  // a folder, or a file the existence test does not see
    }
    return source;
}

// The lock file is opened without sharing and removed when closed, so it
// is there only while its holder runs, whichever session that is in.
std::unique_ptr<FolderLock> Win32Files::Lock(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        // A lock file being removed by its last holder refuses access for a moment.
        throw SystemError(error == ERROR_ACCESS_DENIED && Facts(path).exists ? ERROR_SHARING_VIOLATION : error);
    }
    return std::make_unique<Win32FolderLock>(std::move(file));
}

void Win32Files::Flush(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        throw LastError();
    }
    FlushOrThrow(file.Get());
}

// A folder's handle takes its entries to the disk as a file's takes its
// content; only a handle opened for writing may flush.
void Win32Files::FlushFolder(const std::wstring& folder) {
    UniqueFile handle(CreateFileW(folder.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) {
        throw LastError();
    }
    FlushOrThrow(handle.Get());
}

// FAT and exFAT keep local times and no log of their folders' entries.
Volume Win32Files::VolumeOf(const std::wstring& path) {
    QuietCriticalErrors quiet;
    std::vector<wchar_t> root(path.size() + 2);
    wchar_t system[MAX_PATH + 1] = {};
    if (!GetVolumePathNameW(path.c_str(), root.data(), static_cast<DWORD>(root.size())) ||
        !GetVolumeInformationW(root.data(), nullptr, 0, nullptr, nullptr, nullptr, system, MAX_PATH + 1)) {
        return {};
    }
    const std::wstring_view name = system;
    const bool fat = name.starts_with(L"FAT") || name == L"exFAT";
    return {.localTimes = fat, .loggedEntries = !fat};
}

std::uint32_t Win32Files::DigestOf(const std::wstring& path) {
    UniqueFile file = OpenToRead(path);
    char* const buffer = CopyBuffer(0);
    Digest digest;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.Get(), buffer, kCopyStep, &read, nullptr)) {
            throw LastError();
        }
        if (read == 0) {
            return digest.Value();
        }
        digest.Add(buffer, read);
    }
}

void Win32Files::Remove(const std::wstring& path) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);  // a read-only file cannot be deleted
    if (!DeleteFileW(path.c_str())) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            throw SystemError(error);
        }
    }
}

void Win32Files::MakeOrdinary(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    constexpr DWORD kExtra = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        throw LastError();
    }
    if ((attributes & kExtra) != 0 && !SetFileAttributesW(path.c_str(), attributes & ~kExtra)) {
        throw LastError();
    }
}

void Win32Files::WriteWholeFile(const std::wstring& path, std::string_view bytes) {
    UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        throw LastError();
    }
    WriteAll(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()));
    FlushOrThrow(file.Get());
}

void Win32Files::WriteAt(const std::wstring& path, std::uint64_t offset, std::string_view bytes) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        throw LastError();
    }
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN)) {
        throw LastError();
    }
    WriteAll(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()));
    FlushOrThrow(file.Get());
}

// The window keeps answering while a lock is waited out.
void Win32Files::Pause(int milliseconds) { WaitDispatching({}, static_cast<DWORD>(milliseconds)); }

void Win32Files::RenameFile(const std::wstring& from, const std::wstring& to) {
    if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
        throw LastError();
    }
}

// Creates the folder after creating its missing parents; a folder that is
// already there is fine, a file in its place is an error.
std::vector<std::wstring> Win32Files::CreateFolders(const std::wstring& folder) {
    std::wstring path = folder;
    while (path.size() > 1 && IsSeparator(path.back()) && !(path.size() == 3 && path[1] == L':')) {
        path.pop_back();
    }
    std::vector<std::wstring> created;
    if (path.empty() || IsFolder(path)) {
        return created;
    }
    if (CreateDirectoryW(path.c_str(), nullptr)) {
        created.push_back(path);
        return created;
    }
    DWORD error = GetLastError();
    if (error == ERROR_PATH_NOT_FOUND) {
        const std::size_t cut = path.find_last_of(L"\\/");
        if (cut != std::wstring::npos && cut > 0) {
            created = CreateFolders(path.substr(0, cut));
            if (CreateDirectoryW(path.c_str(), nullptr)) {
                created.push_back(path);
                return created;
            }
            error = GetLastError();
        }
    }
    if (error == ERROR_ALREADY_EXISTS && IsFolder(path)) {
        return created;  // made by someone else meanwhile
    }
    throw SystemError(error);
}

void Win32Files::RemoveEmptyFolder(const std::wstring& folder) { RemoveDirectoryW(folder.c_str()); }

// Lists are small: anything over 64 MiB is refused rather than read.
std::optional<std::string> Win32Files::ReadWholeFile(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        return std::nullopt;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > kLargestReadableFile) {
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(size.QuadPart));
    // Read to the end, whatever the size said: the file may grow or shrink meanwhile.
    char chunk[64 * 1024];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr)) {
            return std::nullopt;
        }
        if (read == 0) {
            return bytes;
        }
        if (bytes.size() + read > static_cast<std::size_t>(kLargestReadableFile)) {
            return std::nullopt;
        }
        bytes.append(chunk, read);
    }
}

// Nothing else in this process changes the current folder, and setting it
// again costs an open of the folder: asked for the same one, nothing is done.
void Win32Files::SetCurrentFolder(const std::wstring& folder) {
    if (folder == currentFolder_) {
        return;
    }
    if (!SetCurrentDirectoryW(folder.c_str())) {
        throw LastError();
    }
    currentFolder_ = folder;
}

std::wstring DecodeAnsi(std::string_view bytes) { return ToWide(bytes, CP_ACP); }

}  // namespace tessaloom
