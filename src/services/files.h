#pragma once
// Module1's file procedures on the wide Win32 file APIs, and the Files seam over them.

#include <string>

#include "app/platform.h"

namespace tessaloom::Module1 {

bool FileExists(const std::wstring& path);
void BackupFile(const std::wstring& current, const std::wstring& backup);
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
