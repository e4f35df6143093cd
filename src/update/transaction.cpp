#include "update/transaction.h"

#include <algorithm>
#include <iterator>
#include <set>

#include "core/text.h"
#include "update/moves.h"

namespace tessaloom {
namespace {

constexpr int kAbsent = -1;
constexpr int kNothingToDo = -2;
// The entries whose staged copies stay open until the commit: the first
// ones, well within the files a process may hold open under Wine too
// (which raises its limit to the system's hard limit, often 4,096).
constexpr std::size_t kMostKeptOpen = 2048;

using Step = UpdateEvents::Step;

std::wstring JournalPathOf(const std::wstring& app) { return Join(app, kJournalName); }
// The journal while it is first written: renamed to its own name once whole.
std::wstring UnfinishedJournalPath(const std::wstring& app) { return JournalPathOf(app) + kStagedSuffix; }

void Tell(UpdateEvents* events, Step step, const std::wstring& name) {
    if (events != nullptr) {
        events->Did(step, name);
    }
}

std::unique_ptr<FolderLock> TakeLock(Files& files, const std::wstring& app, UpdateEvents* events) {
    const std::wstring path = Join(app, kLockName);
    return Retrying(files, events, path, [&] { return files.Lock(path); });
}

[[noreturn]] void Refuse(const std::wstring& path) {
    throw RuntimeError(kErrAccessDenied, L"Access is denied: " + path);
}

void WritePhase(Files& files, const std::wstring& journal, Phase phase) {
    files.WriteAt(journal, kPhaseOffset, std::string(1, static_cast<char>(phase)));
}

// After every move of a commit is done: the renames made durable, then the
// phase that no start waits for, then the tidying. The journal stays, quietly,
// while anything is left.
void Conclude(Files& files, Mover& mover, const std::wstring& journalPath, const Journal& journal, bool quietly,
              UpdateEvents* events) {
    mover.FlushFolders(journal.entries);
    if (journal.phase != Phase::Tidying) {
        WritePhase(files, journalPath, Phase::Tidying);
    }
    if (mover.Tidy(journal.entries, quietly)) {
        try {
            quietly ? files.Remove(journalPath) : mover.Delete(journalPath);
            return;
        } catch (const RuntimeError&) {
            // Left, as below.
        }
    }
    Tell(events, Step::TidyingLeft, journalPath);
}

// A journal that is being written or rewritten is held for a moment: waited
// out like any other file, and nothing when it still cannot be read.
std::optional<std::string> ReadJournalText(Files& files, const std::wstring& path) {
    for (std::size_t attempt = 0;; ++attempt) {
        if (std::optional<std::string> text = files.ReadWholeFile(path)) {
            return text;
        }
        if (attempt == std::size(kRetryPauses) || !files.Facts(path).exists) {
            return std::nullopt;
        }
        files.Pause(kRetryPauses[attempt]);
    }
}

// Recovery, with the folder's lock held.
void Recover(Files& files, const std::wstring& app, UpdateEvents* events) {
    const std::wstring journalPath = JournalPathOf(app);
    Mover mover(files, app, events, files.VolumeOf(app));
    if (!files.Facts(journalPath).exists) {
        // A journal cut short while it was first written: nothing was staged yet.
        if (files.Facts(UnfinishedJournalPath(app)).exists) {
            mover.Delete(UnfinishedJournalPath(app));
        }
        return;
    }
    Tell(events, Step::Recovering, journalPath);
    const std::optional<std::string> text = ReadJournalText(files, journalPath);
    if (!text) {
        Refuse(journalPath);
    }
    std::optional<Journal> journal = ParseJournal(*text);
    if (!journal) {
        Tell(events, Step::JournalDamaged, journalPath);
        throw RuntimeError(kErrBadFileFormat,
                           L"The record of an interrupted update is damaged, so the update was neither finished nor "
                           L"undone: " +
                               journalPath +
                               L". Check the files of the application folder against their OLD backups, or "
                               L"reinstall, then delete that file.");
    }
    switch (journal->phase) {
    case Phase::Committing:
        mover.Finish(journal->entries, true);
        [[fallthrough]];
    case Phase::Tidying:
        Conclude(files, mover, journalPath, *journal, journal->phase == Phase::Tidying, events);
        Tell(events, Step::RecoveryFinished, journalPath);
        return;
    case Phase::Undoing:
        mover.Undo(journal->entries);
        [[fallthrough]];
    case Phase::Staging:
        mover.RemoveStaged(journal->entries);
        mover.Delete(journalPath);
        Tell(events, Step::RecoveryUndone, journalPath);
        return;
    }
}

// A name whose backup is another listed name: applying both would back the
// one up under the other's name.
void RefuseBackupsListedAsNames(const std::vector<UpdateEntry>& entries) {
    std::set<std::wstring> names;
    for (const UpdateEntry& entry : entries) {
        names.insert(FoldedName(entry.name));
    }
    for (const UpdateEntry& entry : entries) {
        if (names.contains(FoldedName(BackupName(entry.name)))) {
            throw RuntimeError(kErrPathFileAccess, L"Path/File access error: the update list names both " + entry.name +
                                                       L" and its backup " + BackupName(entry.name) +
                                                       L"; nothing was changed");
        }
    }
}

}  // namespace

Interrupted FindInterruptedUpdate(Files& files, const std::wstring& applicationFolder) {
    const std::wstring path = JournalPathOf(applicationFolder);
    if (!files.Facts(path).exists) {
        return files.Facts(UnfinishedJournalPath(applicationFolder)).exists ? Interrupted::Staging : Interrupted::None;
    }
    const std::optional<std::string> text = ReadJournalText(files, path);
    if (!text) {
        // Held for longer than a moment (by the updater at work): nothing
        // may be assumed about the install.
        return Interrupted::Committing;
    }
    const std::optional<Journal> journal = ParseJournal(*text);
    if (!journal) {
        return Interrupted::Damaged;
    }
    switch (journal->phase) {
    case Phase::Staging:
        return Interrupted::Staging;
    case Phase::Tidying:
        return Interrupted::Tidying;
    default:
        return Interrupted::Committing;
    }
}

std::vector<std::wstring> InterruptedUpdateNames(Files& files, const std::wstring& applicationFolder) {
    const std::optional<std::string> text = files.ReadWholeFile(JournalPathOf(applicationFolder));
    const std::optional<Journal> journal = text ? ParseJournal(*text) : std::nullopt;
    std::vector<std::wstring> names;
    for (const UpdateEntry& entry : journal ? journal->entries : std::vector<UpdateEntry>{}) {
        names.push_back(entry.name);
    }
    return names;
}

void RecoverInterruptedUpdate(Files& files, const std::wstring& applicationFolder, UpdateEvents* events) {
    if (!files.Facts(JournalPathOf(applicationFolder)).exists &&
        !files.Facts(UnfinishedJournalPath(applicationFolder)).exists) {
        return;
    }
    const std::unique_ptr<FolderLock> lock = TakeLock(files, applicationFolder, events);
    Recover(files, applicationFolder, events);
}

UpdateTransaction::UpdateTransaction(Files& files, std::wstring applicationFolder, std::wstring updateFolder,
                                     UpdateEvents* events, SourceOpener open)
    : files_(files),
      events_(events),
      app_(std::move(applicationFolder)),
      updates_(std::move(updateFolder)),
      open_(std::move(open)),
      byPath_(!open_) {
    if (byPath_) {
        open_ = [this](const std::wstring& name) { return files_.OpenSource(Join(updates_, name)); };
    }
}

UpdateTransaction::~UpdateTransaction() { RollBack(); }

std::wstring UpdateTransaction::JournalPath() const { return JournalPathOf(app_); }

// What the plan looks up for each listed name, in this order.
enum Found { kCurrentFile, kBackupFile, kAsideFile, kNewFile, kFoundPerName };

// Decides what one listed name needs, from what was found at its paths (the
// new file's facts only when it is opened by path): its entry's position, or
// kAbsent or kNothingToDo. The new file is opened here only where it must be
// read: when handed over, when its name leads elsewhere, and to compare it
// with a current file of its size.
int UpdateTransaction::PlanOne(const std::wstring& name, const FileFacts* found, std::set<std::wstring>& destinations,
                               std::vector<std::wstring>& strays) {
    std::unique_ptr<SourceFile> source;
    const auto open = [&] {
        source = Retrying(
            files_, events_, Join(updates_, name), [&] { return open_(name); }, Side::kNew);
        return source != nullptr;
    };
    FileFacts fresh = found[kNewFile];
    if (!byPath_ || fresh.link) {
        fresh = open() ? source->Facts() : FileFacts{};
    }
    if (!fresh.exists || fresh.folder || fresh.hiddenOrSystem) {
        Tell(events_, Step::Absent, name);
        return kAbsent;
    }
    if (!destinations.insert(FoldedName(name)).second) {
        Tell(events_, Step::ListedTwice, name);
        return kNothingToDo;  // this destination is applied once
    }
    const Paths paths(app_, name);
    if (paths.aside.size() > kMaxPathLength) {
        throw RuntimeError(kErrNameTooLong, L"The file name is too long: " + paths.aside);
    }
    const FileFacts& current = found[kCurrentFile];
    const FileFacts& backup = found[kBackupFile];
    if (current.folder) {
        Refuse(paths.current);
    }
    if (backup.folder) {
        Refuse(paths.backup);
    }
    if (current.exists && current.size == fresh.size && (source || open()) &&
        Retrying(files_, events_, paths.current, [&] { return source->SameContentAs(paths.current); })) {
        Tell(events_, Step::Identical, name);
        return kNothingToDo;  // already this version: its backup stays the previous one
    }
    // Only a current file makes a backup, so only then does the earlier one step aside.
    const bool setAside = current.exists && backup.exists;
    if (setAside && found[kAsideFile].exists) {
        strays.push_back(paths.aside);
    }
    journal_.entries.push_back({.name = name,
                                .size = fresh.size,
                                .modified = fresh.modified,
                                .current = {current.exists, current.size, current.modified},
                                .backup = {setAside, backup.size, backup.modified}});
    return static_cast<int>(journal_.entries.size()) - 1;
}

void UpdateTransaction::Plan(const std::vector<std::wstring>& names) {
    lock_ = TakeLock(files_, app_, events_);
    Recover(files_, app_, events_);
    if (files_.Facts(JournalPath()).exists) {
        // Only tidying was left, and it still is: what stays behind is
        // an earlier backup set aside, which is removed below as a stray.
        files_.Remove(JournalPath());
    }
    volume_ = files_.VolumeOf(app_);
    // Looked up all at once: a folder's entries can then be listed once
    // rather than each name looked for in it, which for a name that is not
    // there can cost as much as listing the folder.
    std::vector<std::wstring> paths;
    paths.reserve(names.size() * kFoundPerName);
    for (const std::wstring& name : names) {
        Paths at(app_, name);
        paths.push_back(std::move(at.current));
        paths.push_back(std::move(at.backup));
        paths.push_back(std::move(at.aside));
        paths.push_back(byPath_ ? Join(updates_, name) : std::wstring());
    }
    const std::vector<FileFacts> found = files_.FactsOfAll(paths);
    std::set<std::wstring> destinations;
    std::vector<std::wstring> strays;  // earlier backups' leftovers beside a backup
    for (std::size_t i = 0; i < names.size(); ++i) {
        positions_.push_back(PlanOne(names[i], &found[i * kFoundPerName], destinations, strays));
    }
    const std::vector<UpdateEntry>& entries = journal_.entries;
    if (entries.empty()) {
        return;
    }
    RefuseBackupsListedAsNames(entries);
    written_ = std::vector<std::unique_ptr<WrittenFile>>(std::min(entries.size(), kMostKeptOpen));
    Mover mover(files_, app_, events_, volume_);
    for (const std::wstring& stray : strays) {
        mover.Delete(stray);  // older than the backup beside it, which steps aside in its place
    }
    pending_ = true;  // from here on a failure undoes, even one while the journal is written
    const std::wstring unfinished = UnfinishedJournalPath(app_);
    files_.WriteWholeFile(unfinished, FormatJournal(journal_));
    files_.RenameFile(unfinished, JournalPath());
}

bool UpdateTransaction::Stage(std::size_t position, const std::function<void()>& progress) {
    const int at = positions_.at(position);
    if (at == kAbsent || at == kNothingToDo) {
        return at == kNothingToDo;
    }
    UpdateEntry& entry = journal_.entries[static_cast<std::size_t>(at)];
    const Paths paths(app_, entry.name);
    const std::wstring sourcePath = Join(updates_, entry.name);
    const std::unique_ptr<SourceFile> source = Retrying(
        files_, events_, sourcePath, [&] { return open_(entry.name); }, Side::kNew);
    if (!source) {
        // Vanished since it was planned, or its folder did: nothing to apply
        // here. The journal says so when the commit begins.
        entry.vanished = true;
        Tell(events_, Step::Vanished, entry.name);
        return false;
    }
    if (const std::wstring_view folder = FolderPart(entry.name); !folder.empty()) {
        const std::vector<std::wstring> created = files_.CreateFolders(Join(app_, folder));
        createdFolders_.insert(createdFolders_.end(), created.begin(), created.end());
    }
    // The same open file is checked, copied and checked again: its facts come
    // from it, never from the copy, whose time the destination's volume rounds.
    const FileFacts before = source->Facts();
    const auto changed = [&](const wchar_t* how) {
        throw RuntimeError(kErrPathFileAccess, L"Path/File access error: " + sourcePath + how);
    };
    if (before.size != entry.size || before.modified != entry.modified) {
        changed(L" changed after the update was planned");
    }
    SourceFile::Copied copied =
        Retrying(files_, events_, paths.staged, [&] { return source->CopyTo(paths.staged, progress); });
    const FileFacts after = source->Facts();
    if (copied.bytes != entry.size || after.size != entry.size || after.modified != entry.modified) {
        changed(L" changed while it was copied");
    }
    entry.digest = copied.digest;
    if (check_) {
        // The copy is checked where only administrators can change it, once
        // it is on the disk and closed. The check may read the current file,
        // which may be briefly locked too.
        Retrying(files_, events_, paths.staged, [&] { copied.file->Flush(); });
        copied.file.reset();
        Retrying(files_, events_, paths.current, [&] { check_(paths.staged, entry); });
    } else if (const auto kept = static_cast<std::size_t>(at); kept < written_.size()) {
        // Kept open until the commit flushes it: a second open costs more
        // than the flush where flushes are cheap. Its flush starts now, so
        // the disk writes it out while the next ones are copied.
        written_[kept] = std::move(copied.file);
        written_[kept]->StartFlush();
    }
    Tell(events_, Step::Staged, entry.name);
    return true;
}

void UpdateTransaction::Commit(const std::function<void()>& progress) {
    if (!pending_) {
        return;  // nothing to apply
    }
    for (std::size_t at = 0; at < journal_.entries.size(); ++at) {
        if (!journal_.entries[at].vanished) {
            const std::wstring staged = Paths(app_, journal_.entries[at].name).staged;
            WrittenFile* const kept = at < written_.size() ? written_[at].get() : nullptr;
            Retrying(files_, events_, staged, [&] { kept != nullptr ? kept->Flush() : files_.Flush(staged); });
            if (progress) {
                progress();
            }
        }
    }
    written_.clear();  // every staged copy closed before it is renamed
    // The digests and the vanished marks reach the disk before the phase
    // that relies on them: two writes, so that no torn write can pair the
    // one with entries of the other.
    const std::wstring journal = JournalPath();
    files_.WriteAt(journal, kEntriesOffset, FormatJournal(journal_).substr(kEntriesOffset));
    committing_ = true;
    WritePhase(files_, journal, Phase::Committing);
    Mover mover(files_, app_, events_, volume_);
    mover.TrustStagedFiles();
    mover.Finish(journal_.entries, false);
    pending_ = false;  // every file is in place: the update stands, whatever follows
    try {
        Conclude(files_, mover, journal, journal_, false, events_);
    } catch (const RuntimeError&) {
        // Left to the next start, which finds every file in place and tidies up.
    }
    lock_.reset();
}

// Nothing is removed before every file is back: a failure leaves the
// journal, now saying "undo", for the next start.
void UpdateTransaction::RollBack() noexcept {
    written_.clear();  // the staged copies closed, so that they can be removed
    if (!pending_) {
        return;
    }
    const std::wstring journal = JournalPath();
    bool undone = false;
    try {
        Mover mover(files_, app_, events_, volume_);
        if (committing_) {
            WritePhase(files_, journal, Phase::Undoing);
            mover.Undo(journal_.entries);
        }
        mover.RemoveStaged(journal_.entries);
        mover.Delete(UnfinishedJournalPath(app_));
        mover.Delete(journal);
        for (auto folder = createdFolders_.rbegin(); folder != createdFolders_.rend(); ++folder) {
            files_.RemoveEmptyFolder(*folder);
        }
        undone = true;
    } catch (...) {
        // The journal stays: the next start finishes putting things back.
    }
    try {
        Tell(events_, undone ? Step::RolledBack : Step::RollBackLeft, journal);
    } catch (...) {
        // Nobody to tell.
    }
}

void ApplyUpdate(UpdateTransaction& update, const std::vector<std::wstring>& names,
                 const std::function<void(std::size_t)>& staged, const std::function<void()>& progress) {
    update.Plan(names);
    for (std::size_t position = 0; position < names.size(); ++position) {
        if (update.Stage(position, progress)) {
            staged(position);
        }
    }
    update.Commit(progress);
}

}  // namespace tessaloom
