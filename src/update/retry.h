#pragma once
// Waiting out brief locks: a virus scanner, an indexer or the main program
// still closing holds a file for a moment; that is not yet a failure.

#include <cstdint>
#include <iterator>
#include <string>

#include "core/error.h"
#include "core/seams.h"
#include "update/events.h"

namespace tessaloom {

// How long a sharing or lock violation (or access denied on a file that is
// not read-only) is waited out before it counts: 4.55 s in all.
inline constexpr int kRetryPauses[] = {50, 100, 200, 400, 800, 1000, 1000, 1000};

// Which folder a retried operation works in. A new file's path is only
// named: nothing more of the user's folder is looked at, since the instance
// with administrator rights reads new files only through handles the window
// opened. Access denied on an installed file that is not read-only is a
// scanner's brief hold; on a new file it is for good.
enum class Side { kInstalled, kNew };

// Runs an operation, waiting out a transient lock on `path` with back-off;
// each wait is told to `events`.
template <typename Operation>
auto Retrying(Files& files, UpdateEvents* events, const std::wstring& path, Operation operation,
              Side side = Side::kInstalled) {
    for (std::size_t attempt = 0;; ++attempt) {
        try {
            return operation();
        } catch (const RuntimeError& error) {
            const std::int32_t number = error.Number();
            const bool transient =
                number == kErrSharingViolation || number == kErrLockViolation ||
                (number == kErrAccessDenied && side == Side::kInstalled && !files.Facts(path).readOnly);
            if (!transient || attempt == std::size(kRetryPauses)) {
                throw;
            }
            if (events != nullptr) {
                events->Retrying(path, error, kRetryPauses[attempt]);
            }
        }
        files.Pause(kRetryPauses[attempt]);
    }
}

}  // namespace tessaloom
