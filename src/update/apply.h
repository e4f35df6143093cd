#pragma once
// Applying one pending file: the current file in the application folder is
// backed up as "OLD" + name and the new file from the update folder takes its place.

#include <functional>
#include <string>

#include "core/seams.h"

namespace tessaloom {

// Backs the current file up and copies the new one in. If the copy fails, or
// does nothing because the new file vanished meanwhile, the backup goes back
// under the file's own name, so every file stays complete under its name.
void ApplyUpdateFile(Files& files, const std::wstring& applicationFolder, const std::wstring& updateFolder,
                     const std::wstring& name, const std::function<void()>& progress);

}  // namespace tessaloom
