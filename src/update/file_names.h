#pragma once
// Which names from an update list may be applied.

#include <string>
#include <string_view>

namespace tessaloom {

// True for a plain name relative to a folder: not empty, no wildcard, no
// drive, root, UNC or device path, no stream, no "." or ".." component and no
// reserved device name, so it can never reach outside the folder.
bool IsPlainRelativeName(std::wstring_view name);

// The backup name of a relative name: "OLD" before its last component.
std::wstring BackupName(std::wstring_view name);

}  // namespace tessaloom
