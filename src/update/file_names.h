#pragma once
// Which names from an update list may be applied.

#include <string>
#include <string_view>

namespace tessaloom {

// The updater's own files in the application folder while it applies an
// update: the journal, a new file staged beside its destination, an earlier
// backup set aside. No listed name may take one of these names.
inline constexpr wchar_t kJournalName[] = L"TessaloomUpdate.journal";
inline constexpr wchar_t kLockName[] = L"TessaloomUpdate.lock";
inline constexpr wchar_t kStagedSuffix[] = L".tessaloom-new";
inline constexpr wchar_t kAsideSuffix[] = L".tessaloom-old";

// The longest path the file APIs take without long-path support.
inline constexpr std::size_t kMaxPathLength = 259;

// True for a plain name relative to a folder: not empty, no wildcard, no
// drive, root, UNC or device path, no stream, no "." or ".." component and no
// reserved device name, so it can never reach outside the folder; nor one of
// the updater's own working files.
bool IsPlainRelativeName(std::wstring_view name);

// A name as Windows compares names: in upper case, every separator a backslash.
std::wstring FoldedName(std::wstring_view name);

// The backup name of a relative name: "OLD" before its last component.
std::wstring BackupName(std::wstring_view name);

}  // namespace tessaloom
