#include "update/apply.h"

#include "core/error.h"
#include "core/text.h"
#include "update/file_names.h"

namespace tessaloom {

void ApplyUpdateFile(Files& files, const std::wstring& applicationFolder, const std::wstring& updateFolder,
                     const std::wstring& name, const std::function<void()>& progress) {
    const std::wstring current = Join(applicationFolder, name);
    const std::wstring backup = Join(applicationFolder, BackupName(name));
    if (const std::wstring_view folder = FolderPart(name); !folder.empty()) {
        files.CreateFolders(Join(applicationFolder, folder));
    }
    bool backedUp = false;
    if (files.FileExists(current)) {
        files.BackupFile(current, backup);
        backedUp = true;
    }
    try {
        files.CopyUpdateFile(Join(updateFolder, name), current, progress);
    } catch (const RuntimeError&) {
        if (backedUp) {
            try {
                files.RenameFile(backup, current);
            } catch (const RuntimeError&) {
                // The old file stays complete under its backup name; the copy's error is the one to report.
            }
        }
        throw;
    }
    if (backedUp && !files.FileExists(current)) {
        files.RenameFile(backup, current);
    }
}

}  // namespace tessaloom
