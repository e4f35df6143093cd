#include "update/folder_trust.h"

#include <algorithm>
#include <set>

#include "core/error.h"
#include "core/text.h"
#include "update/file_names.h"
#include "update/moves.h"

namespace tessaloom {
namespace {

bool MayDecide(const std::wstring& sid) {
    return sid == kAdministratorsSid || sid == kSystemSid || sid == kTrustedInstallerSid;
}

// A SID as the user knows it, where it is one every system has.
std::wstring Named(const std::wstring& sid) {
    static constexpr struct {
        const wchar_t* sid;
        const wchar_t* name;
    } kWellKnown[] = {
        {L"S-1-1-0", L"Everyone"},         {L"S-1-5-11", L"Authenticated Users"},
        {L"S-1-5-32-545", L"Users"},       {L"S-1-5-4", L"INTERACTIVE"},
        {L"S-1-3-0", L"CREATOR OWNER"},    {L"S-1-3-4", L"OWNER RIGHTS"},
        {L"S-1-5-32-547", L"Power Users"}, {L"S-1-15-2-1", L"ALL APPLICATION PACKAGES"},
    };
    for (const auto& known : kWellKnown) {
        if (sid == known.sid) {
            return std::wstring(known.name) + L" (" + sid + L")";
        }
    }
    return sid;
}

// What rights let their holder do to a folder that matters here, in words;
// empty when nothing.
std::wstring Changes(std::uint32_t mask) {
    static constexpr struct {
        std::uint32_t right;
        const wchar_t* words;
    } kRights[] = {
        {kRightGenericAll, L"do anything"},
        {kRightGenericWrite, L"write"},
        {kRightAddFile, L"add files"},
        {kRightAddSubfolder, L"add subfolders"},
        {kRightDeleteChild, L"delete what it holds"},
        {kRightDelete, L"delete or rename it"},
        {kRightWriteDac, L"change its permissions"},
        {kRightWriteOwner, L"take it over"},
    };
    std::wstring words;
    for (const auto& [right, text] : kRights) {
        if ((mask & right) != 0) {
            words += (words.empty() ? L"" : L", ") + std::wstring(text);
        }
    }
    return words;
}

std::wstring ReparsePoint(const std::wstring& path) { return path + L" is a junction, symbolic link or mount point"; }

}  // namespace

std::optional<std::wstring> FolderRefusal(const std::wstring& path, const Guard& guard) {
    if (!guard.found) {
        return path + L" cannot be found";
    }
    if (guard.reparsePoint) {
        return ReparsePoint(path);
    }
    if (!guard.folder) {
        return path + L" is not a folder";
    }
    if (!MayDecide(guard.owner)) {
        return path + L" is owned by " + Named(guard.owner) + L", not by Administrators, SYSTEM or TrustedInstaller";
    }
    if (!guard.hasDacl) {
        return path + L" has no access list, so anyone may change it";
    }
    const auto granting = std::find_if(guard.dacl.begin(), guard.dacl.end(), [](const AccessEntry& entry) {
        return entry.kind != AccessEntry::Kind::Deny && !entry.inheritOnly && !Changes(entry.mask).empty() &&
               (entry.kind == AccessEntry::Kind::Other || !MayDecide(entry.sid));
    });
    if (granting == guard.dacl.end()) {
        return std::nullopt;
    }
    const std::wstring changes = Changes(granting->mask);
    if (granting->kind == AccessEntry::Kind::Other) {
        return path + L" has an access entry of a kind this updater does not read, which may let anyone " + changes;
    }
    return path + L" lets " + Named(granting->sid) + L" " + changes;
}

std::optional<std::wstring> ApplicationFolderRefusal(Guards& guards, const std::wstring& applicationFolder,
                                                     const std::vector<std::wstring>& names) {
    std::wstring looking = applicationFolder;
    try {
        if (auto why = FolderRefusal(applicationFolder, guards.Folder(applicationFolder))) {
            return why;
        }
        const auto reparsePoint = [&](const std::wstring& path) {
            looking = path;
            return guards.IsReparsePoint(path);
        };
        for (const wchar_t* own : {kJournalName, kLockName}) {
            const std::wstring path = Join(applicationFolder, own);
            for (const std::wstring& entry : {path, path + kStagedSuffix}) {
                if (reparsePoint(entry)) {
                    return ReparsePoint(entry);
                }
            }
        }
        std::set<std::wstring> seen;  // folders looked at, as Windows compares names
        for (const std::wstring& name : names) {
            // Each folder on the way, until one the update would make.
            std::wstring folder = applicationFolder;
            for (std::size_t start = 0, end = 0; (end = name.find_first_of(L"\\/", start)) != std::wstring::npos;
                 start = end + 1) {
                folder = Join(folder, std::wstring_view(name).substr(start, end - start));
                if (!seen.insert(FoldedName(folder)).second) {
                    continue;
                }
                looking = folder;
                const Guard guard = guards.Folder(folder);
                if (!guard.found) {
                    break;  // made inside a folder already checked
                }
                if (auto why = FolderRefusal(folder, guard)) {
                    return why;
                }
            }
            const Paths paths(applicationFolder, name);
            for (const std::wstring* entry : {&paths.current, &paths.staged, &paths.backup, &paths.aside}) {
                if (reparsePoint(*entry)) {
                    return ReparsePoint(*entry);
                }
            }
        }
    } catch (const RuntimeError& error) {
        return looking + L" cannot be looked at (" + error.Description() + L")";
    }
    return std::nullopt;
}

}  // namespace tessaloom
