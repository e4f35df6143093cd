#pragma once
// Module1's existence test on the wide Win32 file APIs, and the Files seam over them.

#include <string>

#include "core/seams.h"
#include "win32/handles.h"

namespace tessaloom::Module1 {

// True when the path names an ordinary file: not a folder, not hidden, not a
// system file (read-only counts). The last component is a pattern ("*", "?");
// a path ending in a backslash matches every entry of that folder. Every
// failure of the listing reads as false; never throws.
bool FileExists(const std::wstring& path);

}  // namespace tessaloom::Module1

namespace tessaloom {

// A source file read through a handle this process owns: opened here by
// path, or handed over by another process.
class Win32SourceFile final : public SourceFile {
public:
    explicit Win32SourceFile(UniqueFile file) : file_(std::move(file)) {}
    FileFacts Facts() override;
    bool SameContentAs(const std::wstring& path) override;
    Copied CopyTo(const std::wstring& to, const std::function<void()>& progress) override;
    [[nodiscard]] std::uintptr_t Native() const override { return reinterpret_cast<std::uintptr_t>(file_.Get()); }

private:
    void Rewind();
    UniqueFile file_;
};

// Opens a file to read it, letting others read but not change it meanwhile.
// A missing file or folder on the way throws kErrFileNotFound.
UniqueFile OpenToRead(const std::wstring& path);

class Win32Files final : public Files {
public:
    bool FileExists(const std::wstring& path) override { return Module1::FileExists(path); }
    FileFacts Facts(const std::wstring& path) override;
    // Lists each folder that holds many of the paths once.
    std::vector<FileFacts> FactsOfAll(const std::vector<std::wstring>& paths) override;
    std::unique_ptr<SourceFile> OpenSource(const std::wstring& path) override;
    std::unique_ptr<FolderLock> Lock(const std::wstring& path) override;
    void Flush(const std::wstring& path) override;
    void FlushFolder(const std::wstring& folder) override;
    Volume VolumeOf(const std::wstring& path) override;
    std::uint32_t DigestOf(const std::wstring& path) override;
    void Remove(const std::wstring& path) override;
    void MakeOrdinary(const std::wstring& path) override;
    void WriteWholeFile(const std::wstring& path, std::string_view bytes) override;
    void WriteAt(const std::wstring& path, std::uint64_t offset, std::string_view bytes) override;
    void Pause(int milliseconds) override;
    void RenameFile(const std::wstring& from, const std::wstring& to) override;
    std::vector<std::wstring> CreateFolders(const std::wstring& folder) override;
    void RemoveEmptyFolder(const std::wstring& folder) override;
    std::optional<std::string> ReadWholeFile(const std::wstring& path) override;
    void SetCurrentFolder(const std::wstring& folder) override;

private:
    std::wstring currentFolder_;  // as last set here
};

// Decodes bytes of the system's ANSI code page.
std::wstring DecodeAnsi(std::string_view bytes);

}  // namespace tessaloom
