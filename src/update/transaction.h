#pragma once
// Applying an update as a transaction: whatever happens, every file in the
// application folder ends all-old or all-new.
//
// Stage: each new file is copied beside its destination as "<name>.tessaloom-new"
// and its digest taken; nothing installed is touched. Commit: once every
// staged file is on disk, each entry's renames, in order:
//   1. the earlier backup "OLD<name>" steps aside as "OLD<name>.tessaloom-old";
//   2. the current file becomes "OLD<name>";
//   3. the staged file takes the name.
// Each move is due when its source holds what the journal recorded for it
// and its target is free. Finishing does the due moves in order; undoing and
// abandoning an entry do them backwards, target and source swapped, under the
// same test; tidying then removes the earlier backups that stepped aside.
//
// A journal (update/journal.h) is on disk from the start of staging until
// tidying is done. Its phase says what a crash left behind: while staging,
// only staged files to remove; once the commit has begun, moves to finish;
// while a failed commit is undone, moves to undo; once every move is done,
// only tidying, which never stands in the way of a start. What it records of
// each destination tells a folder changed since the crash: such an entry is
// abandoned, never overwritten. RecoverInterruptedUpdate does that at the
// next start and before every walk.
//
// One transaction at a time runs in an application folder, whichever session
// or instance runs it: each holds the lock file "TessaloomUpdate.lock" there.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/seams.h"
#include "update/events.h"
#include "update/file_names.h"
#include "update/journal.h"
#include "update/retry.h"

namespace tessaloom {

// What an interrupted update left: nothing, staged files only (nothing
// installed was touched), a commit under way (the install is half-changed),
// a complete update with something left to tidy, or a journal that cannot be
// read as one. A journal held open for a moment is waited out.
enum class Interrupted { None, Staging, Committing, Tidying, Damaged };
Interrupted FindInterruptedUpdate(Files& files, const std::wstring& applicationFolder);

// The names the journal of an interrupted update acts on; none when there is
// no journal or it cannot be read as one (and so is never acted on).
std::vector<std::wstring> InterruptedUpdateNames(Files& files, const std::wstring& applicationFolder);

// Finishes or undoes what an interrupted update left in the application
// folder, under the folder's lock; costs one attribute query when there is
// nothing. Transient locks are waited out. Throws when it cannot, except
// where only tidying is left: that is tried once and otherwise left for the
// next start.
void RecoverInterruptedUpdate(Files& files, const std::wstring& applicationFolder, UpdateEvents* events = nullptr);

// Opens the new file of a listed name; nothing when it is not there.
using SourceOpener = std::function<std::unique_ptr<SourceFile>(const std::wstring& name)>;
// Looks at a new file once it is staged (its copy written and flushed beside
// its destination, at `staged`); throws to refuse it.
using StagedCheck = std::function<void(const std::wstring& staged, const UpdateEntry& entry)>;

class UpdateTransaction {
public:
    // `events`, when given, hears of every step. New files are opened by
    // path in the update folder unless `open` says otherwise.
    UpdateTransaction(Files& files, std::wstring applicationFolder, std::wstring updateFolder,
                      UpdateEvents* events = nullptr, SourceOpener open = {});
    // An update that was not committed is undone.
    ~UpdateTransaction();
    UpdateTransaction(const UpdateTransaction&) = delete;
    UpdateTransaction& operator=(const UpdateTransaction&) = delete;

    // Every staged copy is shown to `check` before it counts as staged: what
    // is checked is what is installed, not the file it was copied from.
    void CheckStagedWith(StagedCheck check) { check_ = std::move(check); }

    // Takes the folder's lock, finishes or undoes an interrupted update, then
    // decides what each listed name needs and writes the journal: a name
    // whose new file is absent is skipped; a destination listed again (in any
    // case or separator) and a current file already identical to its new
    // file need nothing. Throws, before anything is written, for a folder in
    // a destination's place or a name too long for its working files.
    // A list that names both a file and its backup ("x.dll" and
    // "OLDx.dll") is refused too: the one's backup would take the other's name.
    void Plan(const std::vector<std::wstring>& names);
    // Stages position i (from 0) of the planned names. False when there was
    // nothing to apply there: its new file is absent or vanished meanwhile.
    bool Stage(std::size_t position, const std::function<void()>& progress);
    // Makes every staged file durable, then puts each in place by renames;
    // `progress` is called after each file's flush, so that a slow disk does
    // not keep the window from answering. On failure everything is put back
    // as it was before the walk, and the error is thrown.
    void Commit(const std::function<void()>& progress = {});

private:
    int PlanOne(const std::wstring& name, const FileFacts* found, std::set<std::wstring>& destinations,
                std::vector<std::wstring>& strays);
    void RollBack() noexcept;
    std::wstring JournalPath() const;

    Files& files_;
    UpdateEvents* events_;
    std::wstring app_;
    std::wstring updates_;
    SourceOpener open_;
    bool byPath_;  // new files are opened by path: what the plan needs of them can be looked up
    StagedCheck check_;
    std::unique_ptr<FolderLock> lock_;
    Volume volume_;
    Journal journal_;
    std::vector<int> positions_;                         // entry of each position, or kAbsent / kNothingToDo
    std::vector<std::wstring> createdFolders_;           // by this walk, outermost first
    std::vector<std::unique_ptr<WrittenFile>> written_;  // staged copies still open, by entry
    bool pending_ = false;                               // the journal is on disk and the update not finished
    bool committing_ = false;
};

// Plans `names`, stages each and commits them: the walk of the window and
// of the elevated instance alike. `staged` hears of each position (from 0)
// that was applied or needed nothing; `progress` is called while large files
// are copied and flushed.
void ApplyUpdate(UpdateTransaction& update, const std::vector<std::wstring>& names,
                 const std::function<void(std::size_t)>& staged, const std::function<void()>& progress);

}  // namespace tessaloom
