#pragma once
// Applying with administrator rights on Win32: the writability probe, the
// elevated instance started through the shell's "runas", and the named pipe
// between the two, each end checking who is at the other.

#include <memory>
#include <string>

#include "core/elevated_command.h"
#include "core/seams.h"
#include "win32/handles.h"

namespace tessaloom {

class Win32Elevation final : public Elevation {
public:
    bool CanWrite(const std::wstring& folder) override;
    std::unique_ptr<Channel> StartElevated(std::uintptr_t window) override;
};

// Creates the one instance of a pipe of ours (IsUpdaterPipeName, else access
// denied), for overlapped message I/O, that only this user and
// Administrators may open.
UniqueFile CreateUpdaterPipe(const std::wstring& name);

// The elevated instance's end of the pipe its parent created. Throws access
// denied, having opened nothing, for a name not of ours (IsUpdaterPipeName);
// throws access denied, having read nothing, unless the pipe's server is the process
// `command.parentId` and that process runs this same executable.
std::unique_ptr<Channel> ConnectToParent(const ElevatedCommand& command);

// Whether a handle of this file type (GetFileType) and these attributes is
// taken over as a new file: a file on a disk, never a pipe, a console, a
// device, a folder or a reparse point.
inline bool IsFileOnDisk(DWORD type, DWORD attributes) {
    return type == FILE_TYPE_DISK && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

}  // namespace tessaloom
