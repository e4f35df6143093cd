#pragma once
// Where administrator rights may be used: only on an application folder that
// only administrators can change, and only on paths that stay in it. A
// program of the user can copy the signed updater into a folder of its own
// and plant a junction, a list or a journal there; the updater must then
// refuse to elevate rather than write through the junction as administrator.

#include <optional>
#include <string>
#include <vector>

#include "core/folder_guard.h"

namespace tessaloom {

// The SIDs that may own and change the folders an elevated update writes in.
inline constexpr wchar_t kAdministratorsSid[] = L"S-1-5-32-544";
inline constexpr wchar_t kSystemSid[] = L"S-1-5-18";
inline constexpr wchar_t kTrustedInstallerSid[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// Rights on a folder that let their holder change what it holds or who may:
// add files (FILE_ADD_FILE, the write right of a file), add subfolders,
// delete what it holds, delete or rename the folder itself, change its
// access list or owner, and the generic rights that include any of them.
inline constexpr std::uint32_t kRightAddFile = 0x00000002;
inline constexpr std::uint32_t kRightAddSubfolder = 0x00000004;
inline constexpr std::uint32_t kRightDeleteChild = 0x00000040;
inline constexpr std::uint32_t kRightDelete = 0x00010000;
inline constexpr std::uint32_t kRightWriteDac = 0x00040000;
inline constexpr std::uint32_t kRightWriteOwner = 0x00080000;
inline constexpr std::uint32_t kRightGenericAll = 0x10000000;
inline constexpr std::uint32_t kRightGenericWrite = 0x40000000;

// Nothing when only Administrators, SYSTEM and TrustedInstaller decide what
// the folder at `path` holds: one of them owns it, it is a real folder and no
// reparse point, and its access list grants no one else any right above.
// Otherwise why not, in words for the user.
std::optional<std::wstring> FolderRefusal(const std::wstring& path, const Guard& guard);

// Nothing when an update of `names` may be applied in `applicationFolder`
// with administrator rights: the folder passes FolderRefusal; so does each
// existing folder on the way from it to each name; and no destination, its
// backup, its working names or the updater's own working files there is a
// reparse point. Otherwise why not. A folder that cannot be looked at is
// refused too.
std::optional<std::wstring> ApplicationFolderRefusal(Guards& guards, const std::wstring& applicationFolder,
                                                     const std::vector<std::wstring>& names);

}  // namespace tessaloom
