#pragma once
// Applying an update as a transaction: whatever happens, every file in the
// application folder ends all-old or all-new.
//
// Stage: each new file is copied beside its destination as "<name>.tessaloom-new";
// nothing installed is touched. Commit: once every staged file is on disk, by
// renames only, an earlier backup "OLD<name>" steps aside as
// "OLD<name>.tessaloom-old", the current file becomes "OLD<name>" and the staged
// file takes the name; the earlier backups are removed only when every file is
// in place. A failure undoes the renames in reverse and removes what was staged.
//
// A journal, "TessaloomUpdate.journal" in the application folder, is on disk
// from the start of staging to the end of the commit. Its phase says what a
// crash left behind: while staging, only staged files to remove; while
// committing, renames to finish (when every staged file is still there, in
// place or beside it) or else to undo. RecoverInterruptedUpdate does that at
// the next start and before every walk.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/seams.h"
#include "update/file_names.h"

namespace tessaloom {

// How long a sharing or lock violation (or access denied on a file that is
// not read-only) is waited out before it counts: 4.55 s in all.
inline constexpr int kRetryPauses[] = {50, 100, 200, 400, 800, 1000, 1000, 1000};

// One destination of an update and what stood there before it.
struct UpdateEntry {
    std::wstring name;        // relative to both folders, as first listed
    bool hadCurrent = false;  // a current file to back up
    bool hadBackup = false;   // an earlier backup to set aside
    std::uint64_t size = 0;   // of the new file
    std::uint64_t modified = 0;
    bool vanished = false;  // its new file disappeared before it was staged
};

// What applying does, step by step, told to whoever keeps a record of it
// (the walk's log, or the window an elevated instance reports to). Called as
// each step is done; a sink that throws fails the update, which is undone.
class UpdateEvents {
public:
    enum class Step {
        Absent,            // listed, but its new file is not in the update folder
        ListedTwice,       // its destination was listed before: applied once
        Identical,         // the current file already holds the new bytes: left alone
        Staged,            // the new file is copied beside its destination
        Vanished,          // the new file disappeared before it was copied: skipped
        BackedUp,          // the current file became its backup ("OLD" + name)
        Replaced,          // the new file took the destination's name
        Recovering,        // an interrupted update was found (name: the journal)
        RecoveryFinished,  // ... and its commit was completed
        RecoveryUndone,    // ... and it was undone
        RolledBack,        // a failure: every change of this walk was undone
        RollBackLeft,      // a failure: undoing failed too, the journal stays for the next start
    };
    virtual ~UpdateEvents() = default;
    // A step done for a name relative to the folders (or a path, where said).
    virtual void Did(Step step, const std::wstring& name) = 0;
    // A transient failure on `path`, tried again after `pauseMilliseconds`.
    virtual void Retrying(const std::wstring& path, const RuntimeError& error, int pauseMilliseconds) = 0;
};

// Finishes or undoes what an interrupted update left in the application
// folder; costs one attribute query when there is nothing. With `retry`
// false, a transient lock fails at once. Throws when it cannot.
void RecoverInterruptedUpdate(Files& files, const std::wstring& applicationFolder, bool retry = true,
                              UpdateEvents* events = nullptr);

class UpdateTransaction {
public:
    // `events`, when given, hears of every step.
    UpdateTransaction(Files& files, std::wstring applicationFolder, std::wstring updateFolder,
                      UpdateEvents* events = nullptr);
    // An update that was not committed is undone.
    ~UpdateTransaction();
    UpdateTransaction(const UpdateTransaction&) = delete;
    UpdateTransaction& operator=(const UpdateTransaction&) = delete;

    // Decides what each listed name needs and writes the journal: a name
    // whose new file is absent is skipped; a destination listed again (in any
    // case or separator) and a current file already identical to its new
    // file need nothing. Finishes or undoes an interrupted update first.
    // Throws, before anything is written, for a read-only or folder destination.
    void Plan(const std::vector<std::wstring>& names);
    // Stages position i (from 0) of the planned names. False when there was
    // nothing to apply there: its new file is absent or vanished meanwhile.
    bool Stage(std::size_t position, const std::function<void()>& progress);
    // Makes every staged file durable, then puts each in place by renames.
    // On failure everything is put back as it was before the walk, and the
    // error is thrown.
    void Commit();

private:
    void RollBack() noexcept;

    Files& files_;
    UpdateEvents* events_;
    std::wstring app_;
    std::wstring updates_;
    std::vector<UpdateEntry> entries_;
    std::vector<std::size_t> entryLines_;  // where each entry's line starts in the journal
    std::vector<int> positions_;           // entry of each position, or kAbsent / kNothingToDo
    bool open_ = false;                    // the journal is on disk and the update not finished
    bool committing_ = false;
};

}  // namespace tessaloom
