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
// leaves the destination as it was. `progress` is called after each 1 MiB.
void CopyUpdateFile(const std::wstring& source, const std::wstring& destination,
                    const std::function<void()>& progress = {});

}  // namespace tessaloom::Module1

namespace tessaloom {

class Win32Files final : public Files {
public:
    bool FileExists(const std::wstring& path) override { return Module1::FileExists(path); }
    void BackupFile(const std::wstring& current, const std::wstring& backup) override {
        Module1::BackupFile(current, backup);
    }
    void CopyUpdateFile(const std::wstring& source, const std::wstring& destination,
                        const std::function<void()>& progress) override {
        Module1::CopyUpdateFile(source, destination, progress);
    }
    void RenameFile(const std::wstring& from, const std::wstring& to) override;
    void CreateFolders(const std::wstring& folder) override;
    std::optional<std::string> ReadWholeFile(const std::wstring& path) override;
    void SetCurrentFolder(const std::wstring& folder) override;
};

// Decodes bytes of the system's ANSI code page.
std::wstring DecodeAnsi(std::string_view bytes);

}  // namespace tessaloom
