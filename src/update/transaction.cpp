#include "update/transaction.h"

#include <charconv>
#include <iterator>
#include <optional>
#include <set>
#include <string_view>

#include "core/error.h"
#include "core/text.h"
#include "update/file_names.h"

namespace tessaloom {
namespace {

constexpr int kAbsent = -1;
constexpr int kNothingToDo = -2;

// The journal, UTF-8 text: a header, the phase, one line per entry, "end".
//   TessaloomUpdate journal 2
//   phase S                      S: staging, C: committing, U: undoing a commit
//   CB 1234 133452345000000000 880 133452340000000000 870 133452300000000000 sub\name.dll
//   end
// An entry's first two characters say whether a current file ("C") and an
// earlier backup ("B") were there; "X" in the first marks a new file that
// vanished before it was staged. The numbers are the size and time of the new
// file, the current file and the earlier backup. The phase and the mark are
// rewritten in place, so neither ever needs more room on the disk. Version 1
// had only the new file's two numbers.
constexpr std::string_view kHeaderStart = "TessaloomUpdate journal ";
constexpr std::string_view kHeader = "TessaloomUpdate journal 2\r\nphase ";
constexpr char kStaging = 'S';
constexpr char kCommitting = 'C';
constexpr char kUndoing = 'U';
constexpr char kVanished = 'X';
constexpr std::string_view kEnd = "end\r\n";

struct Journal {
    char phase = kStaging;
    std::vector<UpdateEntry> entries;
};

std::string FormatJournal(const std::vector<UpdateEntry>& entries, std::vector<std::size_t>& lineStarts) {
    std::string text(kHeader);
    text += kStaging;
    text += "\r\n";
    for (const UpdateEntry& entry : entries) {
        lineStarts.push_back(text.size());
        text += entry.vanished ? kVanished : entry.current.exists ? 'C' : '-';
        text += entry.backup.exists ? 'B' : '-';
        for (const std::uint64_t number : {entry.size, entry.modified, entry.current.size, entry.current.modified,
                                           entry.backup.size, entry.backup.modified}) {
            text += ' ' + std::to_string(number);
        }
        text += ' ' + EncodeUtf8(entry.name) + "\r\n";
    }
    text += kEnd;
    return text;
}

std::optional<std::uint64_t> Number(std::string_view& rest) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    if (error != std::errc() || end == rest.data() || end == rest.data() + rest.size() || *end != ' ') {
        return std::nullopt;
    }
    rest.remove_prefix(static_cast<std::size_t>(end - rest.data()) + 1);
    return value;
}

std::optional<UpdateEntry> ParseEntry(std::string_view line, int version) {
    if (line.size() < 4 || std::string_view("CX-").find(line[0]) == std::string_view::npos ||
        (line[1] != 'B' && line[1] != '-') || line[2] != ' ') {
        return std::nullopt;
    }
    UpdateEntry entry;
    entry.vanished = line[0] == kVanished;
    entry.current.exists = line[0] == 'C' || (entry.vanished && version == 1);
    entry.backup.exists = line[1] == 'B';
    entry.recorded = version >= 2;
    line.remove_prefix(3);
    std::uint64_t* const fields[] = {&entry.size,         &entry.modified,
                                     &entry.current.size, &entry.current.modified,
                                     &entry.backup.size,  &entry.backup.modified};
    for (std::size_t i = 0; i < (version == 1 ? 2U : std::size(fields)); ++i) {
        const auto number = Number(line);
        if (!number) {
            return std::nullopt;
        }
        *fields[i] = *number;
    }
    entry.name = DecodeUtf8(line);
    // Only a name that could have been listed is ever acted on.
    if (!IsPlainRelativeName(entry.name) || EncodeUtf8(entry.name) != line) {
        return std::nullopt;
    }
    return entry;
}

// Nothing unless the whole journal reads as one: a journal cut short,
// garbled or naming anything outside the folder is never acted on.
std::optional<Journal> ParseJournal(std::string_view text) {
    if (!text.starts_with(kHeaderStart)) {
        return std::nullopt;
    }
    text.remove_prefix(kHeaderStart.size());
    const int version = text.starts_with("1\r\nphase ") ? 1 : text.starts_with("2\r\nphase ") ? 2 : 0;
    if (version == 0 || text.size() < 12 || text.substr(10, 2) != "\r\n") {
        return std::nullopt;
    }
    Journal journal{text[9], {}};
    if (journal.phase != kStaging && journal.phase != kCommitting && journal.phase != kUndoing) {
        return std::nullopt;
    }
    text.remove_prefix(12);
    while (text != kEnd) {
        const std::size_t end = text.find("\r\n");
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        std::optional<UpdateEntry> entry = ParseEntry(text.substr(0, end), version);
        if (!entry) {
            return std::nullopt;
        }
        journal.entries.push_back(std::move(*entry));
        text.remove_prefix(end + 2);
    }
    return journal;
}

std::wstring JournalPath(const std::wstring& app) { return Join(app, kJournalName); }
// The journal while it is first written: renamed to its own name once whole.
std::wstring UnfinishedJournalPath(const std::wstring& app) { return JournalPath(app) + kStagedSuffix; }

// The paths of one entry.
struct Paths {
    Paths(const std::wstring& app, const std::wstring& name)
        : current(Join(app, name)),
          backup(Join(app, BackupName(name))),
          staged(current + kStagedSuffix),
          aside(backup + kAsideSuffix) {}
    std::wstring current;
    std::wstring backup;
    std::wstring staged;
    std::wstring aside;
};

using Step = UpdateEvents::Step;

void Tell(UpdateEvents* events, Step step, const std::wstring& name) {
    if (events != nullptr) {
        events->Did(step, name);
    }
}

// Which folder a retried operation works in. A new file's path is only
// named: nothing more of the user's folder is looked at, since the instance
// with administrator rights reads new files only through handles the window
// opened.
enum class Side { kInstalled, kNew };

// Runs an operation, waiting out a transient lock on `path` with back-off.
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

std::unique_ptr<FolderLock> TakeLock(Files& files, const std::wstring& app, UpdateEvents* events) {
    const std::wstring path = Join(app, kLockName);
    return Retrying(files, events, path, [&] { return files.Lock(path); });
}

bool Near(std::uint64_t first, std::uint64_t second) {
    return (first > second ? first - second : second - first) <= kTimeTolerance;
}

[[noreturn]] void Changed(const std::wstring& path, const wchar_t* how) {
    throw RuntimeError(kErrPathFileAccess, L"Path/File access error: " + path + how);
}

// The renames of the commit, and their undoing, each done only where it is
// still due, so that the same steps commit an update, finish one a crash cut
// short, and undo either.
class Renames {
public:
    Renames(Files& files, const std::wstring& app, UpdateEvents* events) : files_(files), app_(app), events_(events) {}

    // Puts every new file in place. With `abandon`, an entry whose
    // destination changed since the update was planned is left as it is now
    // and its staged file removed; without, that is an error.
    void Finish(std::vector<UpdateEntry>& entries, bool abandon) {
        for (UpdateEntry& entry : entries) {
            if (entry.vanished) {
                continue;
            }
            if (const wchar_t* how = FinishOne(entry)) {
                const Paths paths(app_, entry.name);
                if (!abandon) {
                    Changed(paths.current, how);
                }
                Abandon(entry, paths);
            }
        }
    }

    // After a complete commit: backups become ordinary files, earlier ones go.
    void Tidy(const std::vector<UpdateEntry>& entries, const std::wstring& journal) {
        for (const UpdateEntry& entry : entries) {
            const Paths paths(app_, entry.name);
            if (entry.vanished) {
                continue;
            }
            if (entry.current.exists && Exists(paths.backup)) {
                files_.MakeOrdinary(paths.backup);
            }
            if (entry.backup.exists) {
                Delete(paths.aside);
            }
        }
        Delete(journal);
    }

    // Undoes the commit's renames in reverse, each only where it was done.
    void Undo(const std::vector<UpdateEntry>& entries) {
        for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
            if (!entry->vanished) {
                UndoOne(*entry, Paths(app_, entry->name));
            }
        }
    }

    void RemoveStaged(const std::vector<UpdateEntry>& entries) {
        for (const UpdateEntry& entry : entries) {
            Delete(Paths(app_, entry.name).staged);
        }
    }

    void Delete(const std::wstring& path) {
        Retrying(files_, events_, path, [&] { files_.Remove(path); });
    }

private:
    bool Exists(const std::wstring& path) { return files_.Facts(path).exists; }
    void Rename(const std::wstring& from, const std::wstring& to) {
        Retrying(files_, events_, from, [&] { files_.RenameFile(from, to); });
    }
    // The file at `path` is the one recorded (a rename keeps size and time);
    // a journal without records trusts what is there.
    bool Is(const std::wstring& path, const RecordedFile& recorded, bool trusted) {
        const FileFacts facts = files_.Facts(path);
        return facts.exists && !facts.folder &&
               (trusted || (facts.size == recorded.size && facts.modified == recorded.modified));
    }
    bool IsOld(const std::wstring& path, const UpdateEntry& entry) {
        return entry.current.exists && Is(path, entry.current, !entry.recorded);
    }
    // The new file is in place: nothing staged is left and the destination
    // is the new file (its time as the volume keeps it) and not the old one.
    bool Placed(const UpdateEntry& entry, const Paths& paths) {
        const FileFacts current = files_.Facts(paths.current);
        return !Exists(paths.staged) && current.exists && !current.folder && current.size == entry.size &&
               Near(current.modified, entry.modified) && !(entry.recorded && IsOld(paths.current, entry));
    }

    // One entry's renames; the reason it cannot be finished safely, or null.
    const wchar_t* FinishOne(const UpdateEntry& entry) {
        const Paths paths(app_, entry.name);
        if (!Exists(paths.staged)) {
            return Placed(entry, paths) ? nullptr : L" lost its new version before it was put in place";
        }
        const bool currentThere = Exists(paths.current);
        if (currentThere && !IsOld(paths.current, entry)) {
            return L" was changed by someone else meanwhile";
        }
        if (currentThere) {
            if (Exists(paths.backup)) {
                if (Exists(paths.aside)) {
                    if (Is(paths.aside, entry.backup, !entry.recorded)) {
                        return L"'s backup was changed by someone else meanwhile";
                    }
                    Delete(paths.aside);  // a stray left beside an older backup
                }
                Rename(paths.backup, paths.aside);
            }
            Rename(paths.current, paths.backup);
            Tell(events_, Step::BackedUp, entry.name);
        } else if (Exists(paths.aside) && !Exists(paths.backup)) {
            // The current file went missing after the earlier backup stepped
            // aside: that stays the backup.
            Rename(paths.aside, paths.backup);
        }
        Rename(paths.staged, paths.current);
        Tell(events_, Step::Replaced, entry.name);
        return nullptr;
    }

    void UndoOne(const UpdateEntry& entry, const Paths& paths) {
        if (Placed(entry, paths)) {
            Rename(paths.current, paths.staged);
        }
        if (!Exists(paths.current) && IsOld(paths.backup, entry)) {
            Rename(paths.backup, paths.current);
        }
        if (entry.backup.exists && Exists(paths.aside) && !Exists(paths.backup)) {
            Rename(paths.aside, paths.backup);
        }
    }

    // Leaves a destination as it now stands: what this update moved away is
    // put back where its place is free, and its staged file goes.
    void Abandon(UpdateEntry& entry, const Paths& paths) {
        if (!Exists(paths.current) && IsOld(paths.backup, entry)) {
            Rename(paths.backup, paths.current);
        }
        if (Exists(paths.aside) && !Exists(paths.backup)) {
            Rename(paths.aside, paths.backup);
        }
        Delete(paths.staged);
        entry.vanished = true;  // nothing of it is tidied
        Tell(events_, Step::Abandoned, entry.name);
    }

    Files& files_;
    const std::wstring& app_;
    UpdateEvents* events_;
};

[[noreturn]] void Refuse(const std::wstring& path) {
    throw RuntimeError(kErrAccessDenied, L"Access is denied: " + path);
}

std::optional<Journal> ReadJournal(Files& files, const std::wstring& path) {
    const std::optional<std::string> text = files.ReadWholeFile(path);
    if (!text) {
        Refuse(path);
    }
    return ParseJournal(*text);
}

// Recovery, with the folder's lock held.
void Recover(Files& files, const std::wstring& app, UpdateEvents* events) {
    const std::wstring journalPath = JournalPath(app);
    Renames renames(files, app, events);
    if (!files.Facts(journalPath).exists) {
        // A journal cut short while it was first written: nothing was staged yet.
        if (files.Facts(UnfinishedJournalPath(app)).exists) {
            renames.Delete(UnfinishedJournalPath(app));
        }
        return;
    }
    Tell(events, Step::Recovering, journalPath);
    std::optional<Journal> journal = ReadJournal(files, journalPath);
    if (!journal) {
        Tell(events, Step::JournalDamaged, journalPath);
        throw RuntimeError(kErrBadFileFormat,
                           L"The record of an interrupted update is damaged, so the update was neither finished nor "
                           L"undone: " +
                               journalPath +
                               L". Check the files of the application folder against their OLD backups, or "
                               L"reinstall, then delete that file.");
    }
    if (journal->phase == kCommitting) {
        renames.Finish(journal->entries, true);
        renames.Tidy(journal->entries, journalPath);
        Tell(events, Step::RecoveryFinished, journalPath);
        return;
    }
    if (journal->phase == kUndoing) {
        renames.Undo(journal->entries);
    }
    renames.RemoveStaged(journal->entries);
    renames.Delete(journalPath);
    Tell(events, Step::RecoveryUndone, journalPath);
}

}  // namespace

Interrupted FindInterruptedUpdate(Files& files, const std::wstring& applicationFolder) {
    const std::wstring path = JournalPath(applicationFolder);
    if (!files.Facts(path).exists) {
        return files.Facts(UnfinishedJournalPath(applicationFolder)).exists ? Interrupted::Staging : Interrupted::None;
    }
    const std::optional<std::string> text = files.ReadWholeFile(path);
    const std::optional<Journal> journal = text ? ParseJournal(*text) : std::nullopt;
    if (!journal) {
        // Unreadable for now (locked by the updater at work) or damaged:
        // either way nothing may be assumed about the install.
        return text ? Interrupted::Damaged : Interrupted::Committing;
    }
    return journal->phase == kStaging ? Interrupted::Staging : Interrupted::Committing;
}

std::vector<std::wstring> InterruptedUpdateNames(Files& files, const std::wstring& applicationFolder) {
    const std::optional<std::string> text = files.ReadWholeFile(JournalPath(applicationFolder));
    const std::optional<Journal> journal = text ? ParseJournal(*text) : std::nullopt;
    std::vector<std::wstring> names;
    for (const UpdateEntry& entry : journal ? journal->entries : std::vector<UpdateEntry>{}) {
        names.push_back(entry.name);
    }
    return names;
}

void RecoverInterruptedUpdate(Files& files, const std::wstring& applicationFolder, UpdateEvents* events) {
    if (!files.Facts(JournalPath(applicationFolder)).exists &&
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
      open_(std::move(open)) {
    if (!open_) {
        open_ = [this](const std::wstring& name) { return files_.OpenSource(Join(updates_, name)); };
    }
}

UpdateTransaction::~UpdateTransaction() { RollBack(); }

void UpdateTransaction::Plan(const std::vector<std::wstring>& names) {
    lock_ = TakeLock(files_, app_, events_);
    Recover(files_, app_, events_);
    std::set<std::wstring> destinations;
    std::vector<std::wstring> strays;  // earlier backups' leftovers beside a backup
    for (const std::wstring& name : names) {
        const std::wstring sourcePath = Join(updates_, name);
        const std::unique_ptr<SourceFile> source = Retrying(
            files_, events_, sourcePath, [&] { return open_(name); }, Side::kNew);
        if (!source) {
            positions_.push_back(kAbsent);
            Tell(events_, Step::Absent, name);
            continue;
        }
        if (!destinations.insert(FoldedName(name)).second) {
            positions_.push_back(kNothingToDo);  // this destination is applied once
            Tell(events_, Step::ListedTwice, name);
            continue;
        }
        const Paths paths(app_, name);
        if (paths.aside.size() > kMaxPathLength) {
            throw RuntimeError(kErrNameTooLong, L"The file name is too long: " + paths.aside);
        }
        const FileFacts current = files_.Facts(paths.current);
        const FileFacts backup = files_.Facts(paths.backup);
        const FileFacts fresh = source->Facts();
        if (current.folder) {
            Refuse(paths.current);
        }
        if (backup.folder) {
            Refuse(paths.backup);
        }
        if (current.exists && current.size == fresh.size &&
            Retrying(files_, events_, paths.current, [&] { return source->SameContentAs(paths.current); })) {
            positions_.push_back(kNothingToDo);  // already this version: its backup stays the previous one
            Tell(events_, Step::Identical, name);
            continue;
        }
        // Only a current file makes a backup, so only then does the earlier one step aside.
        const bool setAside = current.exists && backup.exists;
        if (setAside && files_.Facts(paths.aside).exists) {
            strays.push_back(paths.aside);
        }
        positions_.push_back(static_cast<int>(entries_.size()));
        entries_.push_back({.name = name,
                            .size = fresh.size,
                            .modified = fresh.modified,
                            .current = {current.exists, current.size, current.modified},
                            .backup = {setAside, backup.size, backup.modified}});
    }
    if (entries_.empty()) {
        return;
    }
    Renames renames(files_, app_, events_);
    for (const std::wstring& stray : strays) {
        renames.Delete(stray);  // older than the backup beside it, which steps aside in its place
    }
    pending_ = true;  // from here on a failure undoes, even one while the journal is written
    const std::wstring unfinished = UnfinishedJournalPath(app_);
    files_.WriteWholeFile(unfinished, FormatJournal(entries_, entryLines_));
    files_.RenameFile(unfinished, JournalPath(app_));
}

bool UpdateTransaction::Stage(std::size_t position, const std::function<void()>& progress) {
    const int at = positions_.at(position);
    if (at == kAbsent || at == kNothingToDo) {
        return at == kNothingToDo;
    }
    UpdateEntry& entry = entries_[static_cast<std::size_t>(at)];
    const Paths paths(app_, entry.name);
    const std::wstring sourcePath = Join(updates_, entry.name);
    const std::unique_ptr<SourceFile> source = Retrying(
        files_, events_, sourcePath, [&] { return open_(entry.name); }, Side::kNew);
    if (!source) {
        // Vanished since it was planned, or its folder did: nothing to apply here.
        files_.WriteAt(JournalPath(app_), entryLines_[static_cast<std::size_t>(at)], std::string(1, kVanished));
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
    if (before.size != entry.size || before.modified != entry.modified) {
        Changed(sourcePath, L" changed after the update was planned");
    }
    const std::uint64_t copied =
        Retrying(files_, events_, paths.staged, [&] { return source->CopyTo(paths.staged, progress); });
    const FileFacts after = source->Facts();
    if (copied != entry.size || after.size != entry.size || after.modified != entry.modified) {
        Changed(sourcePath, L" changed while it was copied");
    }
    if (check_) {
        // The copy is checked where only administrators can change it, once
        // it is on the disk. The check may read the current file, which may
        // be briefly locked too.
        Retrying(files_, events_, paths.staged, [&] { files_.Flush(paths.staged); });
        Retrying(files_, events_, paths.current, [&] { check_(paths.staged, entry); });
    }
    Tell(events_, Step::Staged, entry.name);
    return true;
}

void UpdateTransaction::Commit(const std::function<void()>& progress) {
    if (!pending_) {
        return;  // nothing to apply
    }
    for (const UpdateEntry& entry : entries_) {
        if (!entry.vanished) {
            const std::wstring staged = Paths(app_, entry.name).staged;
            Retrying(files_, events_, staged, [&] { files_.Flush(staged); });
            if (progress) {
                progress();
            }
        }
    }
    const std::wstring journal = JournalPath(app_);
    committing_ = true;
    files_.WriteAt(journal, kHeader.size(), std::string(1, kCommitting));
    Renames renames(files_, app_, events_);
    renames.Finish(entries_, false);
    pending_ = false;  // every file is in place: the update stands, whatever follows
    try {
        renames.Tidy(entries_, journal);
    } catch (const RuntimeError&) {
        // Left to the next start, which finds every file in place and tidies up.
    }
    lock_.reset();
}

// Nothing is removed before every file is back: a failure leaves the
// journal, now saying "undo", for the next start.
void UpdateTransaction::RollBack() noexcept {
    if (!pending_) {
        return;
    }
    const std::wstring journal = JournalPath(app_);
    bool undone = false;
    try {
        Renames renames(files_, app_, events_);
        if (committing_) {
            files_.WriteAt(journal, kHeader.size(), std::string(1, kUndoing));
            renames.Undo(entries_);
        }
        renames.RemoveStaged(entries_);
        renames.Delete(UnfinishedJournalPath(app_));
        renames.Delete(journal);
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

}  // namespace tessaloom
