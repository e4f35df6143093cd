#pragma once
// An entry's renames as data, and the one place that does them: forwards to
// finish a commit, backwards to undo one or to abandon an entry, each move
// only where it is due.

#include <string>
#include <vector>

#include "core/seams.h"
#include "update/events.h"
#include "update/file_names.h"
#include "update/journal.h"

namespace tessaloom {

// The paths of one entry.
struct Paths {
    Paths(const std::wstring& app, const std::wstring& name);
    std::wstring current;
    std::wstring backup;
    std::wstring staged;
    std::wstring aside;
};

// What a move's source holds before the move, and its target after it.
enum class Holds { kEarlierBackup, kCurrent, kNew };

struct Move {
    std::wstring from;
    std::wstring to;
    Holds holds;
};

// Only a current file makes a backup, so only then does the earlier one
// step aside (an updater before this one recorded one either way).
bool SetsAside(const UpdateEntry& entry);

// An entry's renames, in the order a commit does them.
std::vector<Move> MovesOf(const UpdateEntry& entry, const Paths& paths);

// Does the moves of entries forwards (finishing a commit) or backwards
// (undoing one, or abandoning an entry), each only where it is due.
class Mover {
public:
    Mover(Files& files, const std::wstring& app, UpdateEvents* events, Volume volume)
        : files_(files), app_(app), events_(events), volume_(volume) {}

    // While this walk commits what it staged itself, under the lock, a
    // staged file is taken to be what was copied there; recovery reads it.
    void TrustStagedFiles() { trustStaged_ = true; }

    // Puts every new file in place. With `abandon`, an entry whose
    // destination changed since the update was planned is left as it is now
    // and its staged file removed; without, that is an error.
    void Finish(std::vector<UpdateEntry>& entries, bool abandon);

    void Undo(const std::vector<UpdateEntry>& entries);

    // Writes the folders' entries through where the volume keeps no log of
    // them, so that the journal never outlives the renames it describes.
    void FlushFolders(const std::vector<UpdateEntry>& entries);

    // After a complete commit: backups become ordinary files, earlier ones
    // go. False when something is left; each step is tried once when
    // `quietly`, and waited out otherwise.
    bool Tidy(const std::vector<UpdateEntry>& entries, bool quietly);

    void RemoveStaged(const std::vector<UpdateEntry>& entries);

    void Delete(const std::wstring& path);

private:
    bool Exists(const std::wstring& path) { return files_.Facts(path).exists; }

    // A file recorded by its size and time (a rename keeps both); a journal
    // without records trusts what is there.
    bool HoldsRecorded(const FileFacts& facts, const RecordedFile& recorded, bool trusted) const;

    bool Has(const std::wstring& path, const UpdateEntry& entry, Holds what);

    // A move is due when its source holds what it should and its target is
    // free, and done when its target holds that (its source may be the
    // target of the next move); undoing it is due when it is done and its
    // source is free.
    bool RenameIfFree(const std::wstring& from, const std::wstring& to);
    bool Done(const Move& move, const UpdateEntry& entry) { return Has(move.to, entry, move.holds); }

    void Rename(const std::wstring& from, const std::wstring& to);

    // One entry's moves; the reason it cannot be finished safely, or null.
    const wchar_t* FinishOne(const UpdateEntry& entry, const Paths& paths);

    void UndoOne(const UpdateEntry& entry, const Paths& paths);

    Files& files_;
    const std::wstring& app_;
    UpdateEvents* events_;
    Volume volume_;
    bool trustStaged_ = false;
};

}  // namespace tessaloom
