#pragma once
// What guards folders and files on Win32: owner and access list read from a
// handle opened without following reparse points.

#include <string>
#include <vector>

#include "core/folder_guard.h"
#include "win32/handles.h"

namespace tessaloom {

class Win32Guards final : public Guards {
public:
    Guard Folder(const std::wstring& path) override;
    bool IsReparsePoint(const std::wstring& path) override;

private:
    std::vector<UniqueFile> held_;  // the folders found, kept from being renamed or removed
};

}  // namespace tessaloom
