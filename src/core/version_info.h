#pragma once
// Reading a string out of a version resource (VS_VERSIONINFO) as it lies in
// the executable, without VERSION.dll: a tree of nodes, each a length, a
// value length, a type, a NUL-terminated UTF-16 key, then its value and its
// children, each part aligned to 4 bytes.

#include <optional>
#include <string>
#include <string_view>

namespace tessaloom {

// The text value at a path of keys below the root, separated by backslashes
// ("StringFileInfo\\040904B0\\ProductName"); keys compare without regard to
// ASCII case. Nothing when the path is not there or the block is malformed:
// nothing outside `block` is ever read.
std::optional<std::wstring> VersionInfoString(std::string_view block, std::wstring_view path);

}  // namespace tessaloom
