#pragma once
// Applying with administrator rights: what the window hands the elevated
// instance of the updater and what that instance reports back, as messages
// over a Channel; and the elevated instance's side of it.
//
// Messages are UTF-8 fields separated by NUL characters, the first naming
// the kind. To the elevated instance, once:
//   plan <update folder> (<name> <file>)...  <file>: the window's open new file, or 0
// Back, as the walk goes, then one result:
//   staged <position>                       position (from 0) is applied or needs nothing
//   did <step> <name>                       a step of UpdateEvents
//   retry <milliseconds> <number> <description> <path>
//   result <number> <description>           0: every file in place; else the error, after undoing

#include <optional>
#include <string>
#include <vector>

#include "core/seams.h"
#include "update/transaction.h"

namespace tessaloom {

struct ElevatedPlan {
    std::wstring updateFolder;
    std::vector<std::wstring> names;
    // For each name, the number under which the window handed its new file
    // over (Channel::HandOver), or 0 where it found none.
    std::vector<std::uint64_t> files;
};

std::string EncodePlan(const ElevatedPlan& plan);
// Nothing for a message that is no plan, or names a folder that is not a
// plain path on a drive letter ("X:\...") or a network share, or a name that could reach
// outside the application folder.
std::optional<ElevatedPlan> DecodePlan(const std::string& message);

// The elevated instance: reads the plan, applies it to the application folder
// as one transaction, reporting each step, and sends the result. Returns the
// result's number (0 on success). Before it touches anything it refuses, with
// access denied, a folder that others than administrators can change, or a
// path in it (of the plan or of an interrupted update's journal) that goes
// through a reparse point (ApplicationFolderRefusal). It reads every new file
// through the open file the window handed over, never by path; `check`, when
// given, sees each staged copy and may refuse it.
std::int32_t ApplyForParent(Files& files, Guards& guards, const std::wstring& applicationFolder, Channel& channel,
                            const StagedCheck& check = {});

// The sentence that says why administrator rights are not used in a folder,
// ending with `why` (from ApplicationFolderRefusal).
std::wstring NotElevatingThere(const std::wstring& why);

// The window's side: opens each listed new file in the update folder (with
// this user's rights, writers kept out), hands the files and the plan over
// and relays what comes back. Calls
// `staged` for each position applied, `events` for each step; returns when
// every file is in place and throws the error that the elevated instance
// reported, or that it ended without reporting, or that a report was garbled
// (an unknown kind, a field missing or left over, a number out of its range).
void ApplyElevated(Channel& channel, Files& files, ElevatedPlan plan, UpdateEvents& events,
                   const std::function<void(std::size_t)>& staged);

}  // namespace tessaloom
