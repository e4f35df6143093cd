#pragma once
// Text and path helpers shared by every layer.

#include <string>
#include <string_view>

namespace tessaloom {

// The text without leading and trailing space characters (tabs stay).
std::wstring_view TrimSpaces(std::wstring_view text);

// The text after the program's own name in a full command line, delimited as
// Windows delimits it: up to the closing quote when the name is quoted, else
// up to a space or tab.
std::wstring_view AfterProgramName(std::wstring_view fullCommandLine);

inline bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Where the last component of a path starts: after its last separator or
// drive colon, or 0 for a bare name.
std::size_t NameStart(std::wstring_view path);

// The last component of a path ("b" of "C:\a\b").
inline std::wstring_view NamePart(std::wstring_view path) { return path.substr(NameStart(path)); }

// The folder part of a path without its final separator ("C:\a" of "C:\a\b"),
// or the empty string for a bare name.
std::wstring_view FolderPart(std::wstring_view path);

// A folder and a name joined by one backslash, whatever the parts end with.
inline std::wstring Join(std::wstring_view folder, std::wstring_view name) {
    return std::wstring(folder) + L"\\" + std::wstring(name);
}

}  // namespace tessaloom
