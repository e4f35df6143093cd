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
// crash left behind: while staging, only staged files to remove; once the
// commit has begun, renames to finish; while a failed commit is undone, renames
// to undo. It records what stood at each destination, so that a folder changed
// since the crash is recognised: such an entry is abandoned, never overwritten.
// RecoverInterruptedUpdate does that at the next start and before every walk.
//
// One transaction at a time runs in an application folder, whichever session
// or instance runs it: each holds the lock file "TessaloomUpdate.lock" there.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/seams.h"
#include "update/file_names.h"

namespace tessaloom {

// How long a sharing or lock violation (or access denied on a file that is
// not read-only) is waited out before it counts: 4.55 s in all.
inline constexpr int kRetryPauses[] = {50, 100, 200, 400, 800, 1000, 1000, 1000};

// Two modification times of the same content on different volumes differ by
// the coarser volume's resolution: FAT keeps 2 s (some drivers 1 s), exFAT
// 10 ms, NTFS 100 ns. In 100 ns units.
inline constexpr std::uint64_t kTimeTolerance = 20'000'000;

// What stood at a path when the update was planned.
struct RecordedFile {
    bool exists = false;
    std::uint64_t size = 0;
    std::uint64_t modified = 0;
};

// One destination of an update and what stood there before it.
struct UpdateEntry {
    std::wstring name;       // relative to both folders, as first listed
    std::uint64_t size = 0;  // of the new file
    std::uint64_t modified = 0;
    RecordedFile current;   // the file the new one replaces
    RecordedFile backup;    // the earlier backup that steps aside (only with a current file)
    bool recorded = true;   // false for a journal of an older updater, which kept no facts
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
        Abandoned,         // the destination changed since the interruption: left as it is now
        JournalDamaged,    // the journal cannot be trusted: kept, nothing done (name: the journal)
    };
    virtual ~UpdateEvents() = default;
    // A step done for a name relative to the folders (or a path, where said).
    virtual void Did(Step step, const std::wstring& name) = 0;
    // A transient failure on `path`, tried again after `pauseMilliseconds`.
    virtual void Retrying(const std::wstring& path, const RuntimeError& error, int pauseMilliseconds) = 0;
};

// What an interrupted update left: nothing, staged files only (nothing
// installed was touched), a commit under way (the install is half-changed),
// or a journal that cannot be read as one.
enum class Interrupted { None, Staging, Committing, Damaged };
Interrupted FindInterruptedUpdate(Files& files, const std::wstring& applicationFolder);

// The names the journal of an interrupted update acts on; none when there is
// no journal or it cannot be read as one (and so is never acted on).
std::vector<std::wstring> InterruptedUpdateNames(Files& files, const std::wstring& applicationFolder);

// Finishes or undoes what an interrupted update left in the application
// folder, under the folder's lock; costs one attribute query when there is
// nothing. Transient locks are waited out. Throws when it cannot.
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
    void RollBack() noexcept;

    Files& files_;
    UpdateEvents* events_;
    std::wstring app_;
    std::wstring updates_;
    SourceOpener open_;
    StagedCheck check_;
    std::unique_ptr<FolderLock> lock_;
    std::vector<UpdateEntry> entries_;
    std::vector<std::size_t> entryLines_;       // where each entry's line starts in the journal
    std::vector<int> positions_;                // entry of each position, or kAbsent / kNothingToDo
    std::vector<std::wstring> createdFolders_;  // by this walk, outermost first
    bool pending_ = false;                      // the journal is on disk and the update not finished
    bool committing_ = false;
};

}  // namespace tessaloom
