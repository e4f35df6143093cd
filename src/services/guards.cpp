#include "services/guards.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "core/error.h"
#include "win32/win32_error.h"

namespace tessaloom {
namespace {

// Memory the system allocated with LocalAlloc for us.
struct LocalMemory {
    void* memory = nullptr;
    LocalMemory() = default;
    LocalMemory(const LocalMemory&) = delete;
    LocalMemory& operator=(const LocalMemory&) = delete;
    ~LocalMemory() { LocalFree(memory); }
};

std::wstring SidText(PSID sid) {
    LocalMemory text;
    if (!ConvertSidToStringSidW(sid, reinterpret_cast<LPWSTR*>(&text.memory))) {
        throw LastError();
    }
    return static_cast<const wchar_t*>(text.memory);
}

AccessEntry EntryOf(const ACE_HEADER& header) {
    AccessEntry entry;
    entry.inheritOnly = (header.AceFlags & INHERIT_ONLY_ACE) != 0;
    switch (header.AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:  // allows when its condition holds
        entry.kind = AccessEntry::Kind::Allow;
        break;
    case ACCESS_DENIED_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_ACE_TYPE:
        entry.kind = AccessEntry::Kind::Deny;
        break;
    default:
        entry.kind = AccessEntry::Kind::Other;
        break;
    }
    // Every kind of entry holds its rights right after its header; these four
    // hold the trustee right after the rights.
    if (header.AceSize >= sizeof(ACE_HEADER) + sizeof(ACCESS_MASK)) {
        entry.mask = reinterpret_cast<const ACCESS_ALLOWED_ACE&>(header).Mask;
    }
    if (entry.kind != AccessEntry::Kind::Other && header.AceSize >= sizeof(ACCESS_ALLOWED_ACE)) {
        auto& ace = const_cast<ACCESS_ALLOWED_ACE&>(reinterpret_cast<const ACCESS_ALLOWED_ACE&>(header));
        entry.sid = SidText(&ace.SidStart);
    }
    return entry;
}

}  // namespace

Guard Win32Guards::Folder(const std::wstring& path) {
    // No FILE_SHARE_DELETE: while it is held, no one can rename or remove it.
    UniqueFile file(CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return {};
        }
        throw SystemError(error);
    }
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(file.Get(), FileBasicInfo, &basic, sizeof basic)) {
        throw LastError();
    }
    Guard guard;
    guard.found = true;
    guard.folder = (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    guard.reparsePoint = (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    LocalMemory descriptor;
    const DWORD error =
        GetSecurityInfo(file.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                        nullptr, &dacl, nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(&descriptor.memory));
    if (error != ERROR_SUCCESS) {
        throw SystemError(error);
    }
    guard.owner = owner != nullptr ? SidText(owner) : std::wstring();
    guard.hasDacl = dacl != nullptr;
    for (DWORD index = 0; dacl != nullptr && index < dacl->AceCount; ++index) {
        void* ace = nullptr;
        if (!GetAce(dacl, index, &ace)) {
            throw LastError();
        }
        guard.dacl.push_back(EntryOf(*static_cast<const ACE_HEADER*>(ace)));
    }
    if (guard.folder) {
        held_.push_back(std::move(file));
    }
    return guard;
}

bool Win32Guards::IsReparsePoint(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return false;
        }
        throw SystemError(error);
    }
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace tessaloom
