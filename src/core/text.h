#pragma once
// Text and path helpers shared by every layer.

#include <cstdint>
#include <string>
#include <string_view>

namespace tessaloom {

// The text without leading and trailing space characters (tabs stay).
std::wstring_view TrimSpaces(std::wstring_view text);

// The text after the program's own name in a full command line, delimited as
// Windows delimits it: up to the closing quote when the name is quoted, else
// up to a space or tab.
std::wstring_view AfterProgramName(std::wstring_view fullCommandLine);

// The replacement character that stands for text that cannot be decoded.
inline constexpr char32_t kReplacement = 0xFFFD;

// Appends a code point as UTF-16 (where wchar_t has 16 bits) or UTF-32.
void AppendCodePoint(std::wstring& text, char32_t code);

// Strict UTF-8 to text: overlong forms, surrogates and values above U+10FFFF
// are malformed; each maximal malformed part becomes one U+FFFD.
std::wstring DecodeUtf8(std::string_view bytes);

// Text to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string EncodeUtf8(std::wstring_view text);

// A whole number in decimal, at least `digits` long with leading zeros
// ("-42", "007"). Written here rather than by std::to_wstring, whose
// printf-based formatting of MinGW weighs more than a tenth of the exe.
std::wstring DecimalText(std::int64_t value, int digits = 1);

// A number in upper-case hexadecimal, at least `digits` long ("00FF").
std::wstring HexText(std::uint64_t value, int digits = 1);

inline bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Where the last component of a path starts: after its last separator or
// drive colon, or 0 for a bare name.
std::size_t NameStart(std::wstring_view path);

// The last component of a path ("b" of "C:\a\b").
inline std::wstring_view NamePart(std::wstring_view path) { return path.substr(NameStart(path)); }

// The folder part of a path without its final separator ("C:\a" of "C:\a\b"),
// or the empty string for a bare name.
std::wstring_view FolderPart(std::wstring_view path);

// A path from a drive's root ("C:\\...") or a UNC path ("\\\\server\\share...").
inline bool IsAbsolutePath(std::wstring_view path) {
    return (path.size() >= 3 && path[1] == L':' && IsSeparator(path[2])) ||
           (path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2]));
}

// A folder and a name joined by one backslash, whatever the parts end with.
inline std::wstring Join(std::wstring_view folder, std::wstring_view name) {
    return std::wstring(folder) + L"\\" + std::wstring(name);
}

}  // namespace tessaloom
