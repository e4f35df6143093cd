#pragma once
// Module1's file procedures on the wide Win32 file APIs, and the Files seam over them.

#include <string>

#include "core/seams.h"

namespace tessaloom::Module1 {

// True when the path names an ordinary file: not a folder, not hidden, not a
// system file (read-only counts). The last component is a pattern ("*", "?");
// a path ending in a backslash matches every entry of that folder. Every
// failure of the listing reads as false; never throws.
bool FileExists(const std::wstring& path);
// When current exists, deletes an existing backup and renames current to
// backup. A failed delete or rename throws the system's error; a hidden or
// system backup is not deleted, so the rename fails.
void BackupFile(const std::wstring& current, const std::wstring& backup);
// When source exists, replaces destination with a copy of it in one step, by
// way of a temporary file beside the destination. On any failure (including a
// read-only or folder destination) it throws, removes the temporary file and
// leaves the destination as it was. `progress` is called after the first
// chunk of the copy, then at most every 50 ms, so the caller can keep its
// window answering without repainting for every chunk.
void CopyUpdateFile(const std::wstring& source, const std::wstring& destination,
                    const std::function<void()>& progress = {});

}  // namespace tessaloom::Module1

namespace tessaloom {

class Win32Files final : public Files {
public:
    bool FileExists(const std::wstring& path) override { return Module1::FileExists(path); }
    FileFacts Facts(const std::wstring& path) override;
    bool SameContent(const std::wstring& first, const std::wstring& second) override;
    void Copy(const std::wstring& source, const std::wstring& to, const std::function<void()>& progress) override;
    void Flush(const std::wstring& path) override;
    void Remove(const std::wstring& path) override;
    void MakeOrdinary(const std::wstring& path) override;
    void WriteWholeFile(const std::wstring& path, std::string_view bytes) override;
    void WriteAt(const std::wstring& path, std::uint64_t offset, std::string_view bytes) override;
    void Pause(int milliseconds) override;
    void RenameFile(const std::wstring& from, const std::wstring& to) override;
    void CreateFolders(const std::wstring& folder) override;
    std::optional<std::string> ReadWholeFile(const std::wstring& path) override;
    void SetCurrentFolder(const std::wstring& folder) override;
};

// Decodes bytes of the system's ANSI code page.
std::wstring DecodeAnsi(std::string_view bytes);

}  // namespace tessaloom
