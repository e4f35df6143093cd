#include "update/moves.h"

#include <set>

#include "core/text.h"
#include "update/retry.h"

namespace tessaloom {
namespace {

using Step = UpdateEvents::Step;

// A volume that keeps local times shows every time moved by the change of
// the time zone or of daylight saving: whole quarter hours, within a day.
constexpr std::uint64_t kQuarterHour = 9'000'000'000;
constexpr std::uint64_t kDay = 96 * kQuarterHour;

std::uint64_t Distance(std::uint64_t first, std::uint64_t second) {
    return first > second ? first - second : second - first;
}

void Tell(UpdateEvents* events, Step step, const std::wstring& name) {
    if (events != nullptr) {
        events->Did(step, name);
    }
}

}  // namespace

Paths::Paths(const std::wstring& app, const std::wstring& name)
    : current(Join(app, name)),
      backup(Join(app, BackupName(name))),
      staged(current + kStagedSuffix),
      aside(backup + kAsideSuffix) {}

bool SetsAside(const UpdateEntry& entry) { return entry.current.exists && entry.backup.exists; }

std::vector<Move> MovesOf(const UpdateEntry& entry, const Paths& paths) {
    std::vector<Move> moves;
    if (SetsAside(entry)) {
        moves.push_back({paths.backup, paths.aside, Holds::kEarlierBackup});
    }
    if (entry.current.exists) {
        moves.push_back({paths.current, paths.backup, Holds::kCurrent});
    }
    moves.push_back({paths.staged, paths.current, Holds::kNew});
    return moves;
}

void Mover::Finish(std::vector<UpdateEntry>& entries, bool abandon) {
    for (UpdateEntry& entry : entries) {
        if (entry.vanished) {
            continue;
        }
        const Paths paths(app_, entry.name);
        if (const wchar_t* how = FinishOne(entry, paths)) {
            if (!abandon) {
                throw RuntimeError(kErrPathFileAccess, L"Path/File access error: " + paths.current + how);
            }
            UndoOne(entry, paths);
            Delete(paths.staged);
            entry.vanished = true;  // nothing of it is tidied
            Tell(events_, Step::Abandoned, entry.name);
        }
    }
}

void Mover::Undo(const std::vector<UpdateEntry>& entries) {
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (!entry->vanished) {
            UndoOne(*entry, Paths(app_, entry->name));
        }
    }
}

void Mover::FlushFolders(const std::vector<UpdateEntry>& entries) {
    if (volume_.loggedEntries) {
        return;
    }
    std::set<std::wstring> folders;
    for (const UpdateEntry& entry : entries) {
        const std::wstring_view folder = FolderPart(entry.name);
        folders.insert(folder.empty() ? app_ : Join(app_, std::wstring(folder)));
    }
    for (const std::wstring& folder : folders) {
        Retrying(files_, events_, folder, [&] { files_.FlushFolder(folder); });
    }
}

bool Mover::Tidy(const std::vector<UpdateEntry>& entries, bool quietly) {
    bool done = true;
    const auto attempt = [&](const std::wstring& path, const std::function<void()>& step) {
        try {
            quietly ? step() : Retrying(files_, events_, path, step);
        } catch (const RuntimeError&) {
            done = false;
        }
    };
    for (const UpdateEntry& entry : entries) {
        const Paths paths(app_, entry.name);
        if (entry.vanished) {
            continue;
        }
        if (entry.current.exists && Exists(paths.backup)) {
            attempt(paths.backup, [&] { files_.MakeOrdinary(paths.backup); });
        }
        if (SetsAside(entry)) {
            attempt(paths.aside, [&] { files_.Remove(paths.aside); });
        }
    }
    return done;
}

void Mover::RemoveStaged(const std::vector<UpdateEntry>& entries) {
    for (const UpdateEntry& entry : entries) {
        Delete(Paths(app_, entry.name).staged);
    }
}

void Mover::Delete(const std::wstring& path) {
    Retrying(files_, events_, path, [&] { files_.Remove(path); });
}

bool Mover::HoldsRecorded(const FileFacts& facts, const RecordedFile& recorded, bool trusted) const {
    if (trusted) {
        return true;
    }
    const std::uint64_t moved = Distance(facts.modified, recorded.modified);
    return facts.size == recorded.size &&
           (moved == 0 || (volume_.localTimes && moved % kQuarterHour == 0 && moved <= kDay));
}

bool Mover::Has(const std::wstring& path, const UpdateEntry& entry, Holds what) {
    const FileFacts facts = files_.Facts(path);
    if (!facts.exists || facts.folder) {
        return false;
    }
    switch (what) {
    case Holds::kEarlierBackup:
        return HoldsRecorded(facts, entry.backup, !entry.recorded);
    case Holds::kCurrent:
        return HoldsRecorded(facts, entry.current, !entry.recorded);
    case Holds::kNew:
        break;
    }
    if (facts.size != entry.size) {
        return false;
    }
    if (!entry.digested) {
        // An older journal knew the new file by its time, as the volume keeps it.
        return Distance(facts.modified, entry.modified) <= kTimeTolerance &&
               !(entry.recorded && entry.current.exists && HoldsRecorded(facts, entry.current, false));
    }
    if (trustStaged_ && path.ends_with(kStagedSuffix)) {
        return true;
    }
    return Retrying(files_, events_, path, [&] { return files_.DigestOf(path); }) == entry.digest;
}

// The rename itself tells whether the target is free: asking first would
// cost a look-up of a missing name, which can mean reading the whole folder.
bool Mover::RenameIfFree(const std::wstring& from, const std::wstring& to) {
    try {
        Rename(from, to);
        return true;
    } catch (const RuntimeError& error) {
        if (error.Number() != kErrAlreadyExists) {
            throw;
        }
        return false;
    }
}

void Mover::Rename(const std::wstring& from, const std::wstring& to) {
    Retrying(files_, events_, from, [&] { files_.RenameFile(from, to); });
}

const wchar_t* Mover::FinishOne(const UpdateEntry& entry, const Paths& paths) {
    for (const Move& move : MovesOf(entry, paths)) {
        if (Has(move.from, entry, move.holds) && RenameIfFree(move.from, move.to)) {
            if (move.holds != Holds::kEarlierBackup) {
                Tell(events_, move.holds == Holds::kCurrent ? Step::BackedUp : Step::Replaced, entry.name);
            }
        } else if (!Done(move, entry)) {
            return move.holds == Holds::kEarlierBackup ? L"'s backup was changed by someone else meanwhile"
                   : move.holds == Holds::kNew && !Exists(move.from)
                       ? L" lost its new version before it was put in place"
                       : L" was changed by someone else meanwhile";
        }
    }
    return nullptr;
}

void Mover::UndoOne(const UpdateEntry& entry, const Paths& paths) {
    const std::vector<Move> moves = MovesOf(entry, paths);
    for (auto move = moves.rbegin(); move != moves.rend(); ++move) {
        if (Done(*move, entry)) {
            RenameIfFree(move->to, move->from);
        }
    }
}

}  // namespace tessaloom
