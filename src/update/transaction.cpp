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
//   TessaloomUpdate journal 1
//   phase S                      S: staging, C: committing
//   CB 1234 133452345000000000 sub\name.dll
//   end
// An entry's first two characters say whether a current file ("C") and an
// earlier backup ("B") were there; "X" in the first marks a new file that
// vanished before it was staged. The phase and that mark are rewritten in
// place, so neither ever needs more room on the disk.
constexpr std::string_view kHeader = "TessaloomUpdate journal 1\r\nphase ";
constexpr char kStaging = 'S';
constexpr char kCommitting = 'C';
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
        text += entry.vanished ? kVanished : entry.hadCurrent ? 'C' : '-';
        text += entry.hadBackup ? 'B' : '-';
        text += ' ' + std::to_string(entry.size) + ' ' + std::to_string(entry.modified) + ' ';
        text += EncodeUtf8(entry.name) + "\r\n";
    }
    text += kEnd;
    return text;
}

std::optional<std::uint64_t> Number(std::string_view& rest) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    if (error != std::errc() || end == rest.data() + rest.size() || *end != ' ') {
        return std::nullopt;
    }
    rest.remove_prefix(static_cast<std::size_t>(end - rest.data()) + 1);
    return value;
}

// A journal cut short can only be one that was being written while staging
// began, so what it names is read as far as it goes, in the staging phase.
Journal ParseJournal(std::string_view text) {
    Journal journal;
    if (!text.starts_with(kHeader) || text.size() < kHeader.size() + 3) {
        return journal;
    }
    const char phase = text[kHeader.size()];
    text.remove_prefix(kHeader.size() + 3);
    bool complete = false;
    while (!text.empty()) {
        const std::size_t end = text.find("\r\n");
        if (end == std::string_view::npos) {
            break;
        }
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 2);
        if (line == kEnd.substr(0, 3)) {
            complete = true;
            break;
        }
        if (line.size() < 4 || line[2] != ' ') {
            break;
        }
        UpdateEntry entry;
        entry.hadCurrent = line[0] == 'C';
        entry.hadBackup = line[1] == 'B';
        entry.vanished = line[0] == kVanished;
        line.remove_prefix(3);
        const auto size = Number(line);
        const auto modified = size ? Number(line) : std::nullopt;
        if (!modified) {
            break;
        }
        entry.size = *size;
        entry.modified = *modified;
        entry.name = DecodeUtf8(line);
        journal.entries.push_back(std::move(entry));
    }
    journal.phase = complete && phase == kCommitting ? kCommitting : kStaging;
    return journal;
}

// The paths of one entry.
struct Paths {
    Paths(const std::wstring& app, const UpdateEntry& entry)
        : current(Join(app, entry.name)),
          backup(Join(app, BackupName(entry.name))),
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

// Runs an operation, waiting out a transient lock on `path` with back-off.
template <typename Operation>
auto Retrying(Files& files, UpdateEvents* events, bool retry, const std::wstring& path, Operation operation) {
    for (std::size_t attempt = 0;; ++attempt) {
        try {
            return operation();
        } catch (const RuntimeError& error) {
            const std::int32_t number = error.Number();
            const bool transient = number == kErrSharingViolation || number == kErrLockViolation ||
                                   (number == kErrAccessDenied && !files.Facts(path).readOnly);
            if (!retry || !transient || attempt == std::size(kRetryPauses)) {
                throw;
            }
            if (events != nullptr) {
                events->Retrying(path, error, kRetryPauses[attempt]);
            }
        }
        files.Pause(kRetryPauses[attempt]);
    }
}

class Renames {
public:
    Renames(Files& files, const std::wstring& app, bool retry, UpdateEvents* events)
        : files_(files), app_(app), retry_(retry), events_(events) {}

    bool Exists(const std::wstring& path) { return files_.Facts(path).exists; }
    void Rename(const std::wstring& from, const std::wstring& to) {
        Retrying(files_, events_, retry_, from, [&] { files_.RenameFile(from, to); });
    }
    void Delete(const std::wstring& path) {
        Retrying(files_, events_, retry_, path, [&] { files_.Remove(path); });
    }
    // The new file is in place: nothing staged is left and the destination is it.
    bool Placed(const UpdateEntry& entry, const Paths& paths) {
        const FileFacts current = files_.Facts(paths.current);
        return !Exists(paths.staged) && current.exists && !current.folder && current.size == entry.size &&
               current.modified == entry.modified;
    }

    // True when every staged file is there, beside its destination or in place.
    bool CanComplete(const std::vector<UpdateEntry>& entries) {
        for (const UpdateEntry& entry : entries) {
            const Paths paths(app_, entry);
            if (!entry.vanished && !Exists(paths.staged) && !Placed(entry, paths)) {
                return false;
            }
        }
        return true;
    }

    // The commit's renames, each done only when it is still to do, so the
    // same steps commit an update and finish one a crash cut short.
    void Complete(const std::vector<UpdateEntry>& entries) {
        for (const UpdateEntry& entry : entries) {
            const Paths paths(app_, entry);
            if (entry.vanished || !Exists(paths.staged)) {
                continue;  // nothing to apply, or already in place
            }
            if (entry.hadBackup && !Exists(paths.aside)) {
                Rename(paths.backup, paths.aside);
            }
            if (entry.hadCurrent && Exists(paths.current)) {
                Rename(paths.current, paths.backup);
                Tell(events_, Step::BackedUp, entry.name);
            }
            Rename(paths.staged, paths.current);
            Tell(events_, Step::Replaced, entry.name);
        }
    }

    // After a complete commit: backups become ordinary files, earlier ones go.
    void Tidy(const std::vector<UpdateEntry>& entries, const std::wstring& journal) {
        for (const UpdateEntry& entry : entries) {
            const Paths paths(app_, entry);
            if (!entry.vanished && entry.hadCurrent) {
                files_.MakeOrdinary(paths.backup);
            }
            if (!entry.vanished && entry.hadBackup) {
                Delete(paths.aside);
            }
        }
        Delete(journal);
    }

    // Undoes the commit's renames in reverse, each only where it was done,
    // then removes what was staged. Nothing is removed before every file is
    // back: a failure leaves the journal for the next start.
    void Undo(const std::vector<UpdateEntry>& entries, char phase, const std::wstring& journal) {
        if (phase == kCommitting) {
            for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
                const Paths paths(app_, *entry);
                if (entry->vanished) {
                    continue;
                }
                if (Placed(*entry, paths)) {
                    Rename(paths.current, paths.staged);
                }
                if (entry->hadCurrent && !Exists(paths.current) && Exists(paths.backup)) {
                    Rename(paths.backup, paths.current);
                }
                if (entry->hadBackup && Exists(paths.aside) && !Exists(paths.backup)) {
                    Rename(paths.aside, paths.backup);
                }
            }
            files_.WriteAt(journal, kHeader.size(), std::string(1, kStaging));
        }
        for (const UpdateEntry& entry : entries) {
            Delete(Paths(app_, entry).staged);
        }
        Delete(journal);
    }

private:
    Files& files_;
    const std::wstring& app_;
    bool retry_;
    UpdateEvents* events_;
};

[[noreturn]] void Refuse(const std::wstring& path) {
    throw RuntimeError(kErrAccessDenied, L"Access is denied: " + path);
}

}  // namespace

void RecoverInterruptedUpdate(Files& files, const std::wstring& applicationFolder, bool retry, UpdateEvents* events) {
    const std::wstring journalPath = Join(applicationFolder, kJournalName);
    if (!files.Facts(journalPath).exists) {
        return;
    }
    Tell(events, Step::Recovering, journalPath);
    const std::optional<std::string> text = files.ReadWholeFile(journalPath);
    if (!text) {
        throw RuntimeError(kErrAccessDenied, L"Access is denied: " + journalPath);
    }
    const Journal journal = ParseJournal(*text);
    Renames renames(files, applicationFolder, retry, events);
    if (journal.phase == kCommitting && renames.CanComplete(journal.entries)) {
        renames.Complete(journal.entries);
        renames.Tidy(journal.entries, journalPath);
        Tell(events, Step::RecoveryFinished, journalPath);
    } else {
        renames.Undo(journal.entries, journal.phase, journalPath);
        Tell(events, Step::RecoveryUndone, journalPath);
    }
}

UpdateTransaction::UpdateTransaction(Files& files, std::wstring applicationFolder, std::wstring updateFolder,
                                     UpdateEvents* events)
    : files_(files), events_(events), app_(std::move(applicationFolder)), updates_(std::move(updateFolder)) {}

UpdateTransaction::~UpdateTransaction() { RollBack(); }

void UpdateTransaction::Plan(const std::vector<std::wstring>& names) {
    RecoverInterruptedUpdate(files_, app_, true, events_);
    std::set<std::wstring> destinations;
    for (const std::wstring& name : names) {
        const std::wstring source = Join(updates_, name);
        if (!files_.FileExists(source)) {
            positions_.push_back(kAbsent);
            Tell(events_, Step::Absent, name);
            continue;
        }
        if (!destinations.insert(FoldedName(name)).second) {
            positions_.push_back(kNothingToDo);  // this destination is applied once
            Tell(events_, Step::ListedTwice, name);
            continue;
        }
        const UpdateEntry probe{.name = name};
        const Paths paths(app_, probe);
        const FileFacts current = files_.Facts(paths.current);
        const FileFacts backup = files_.Facts(paths.backup);
        const FileFacts fresh = files_.Facts(source);
        if (current.folder || current.readOnly) {
            Refuse(paths.current);
        }
        if (backup.folder) {
            Refuse(paths.backup);
        }
        if (current.exists && current.size == fresh.size &&
            Retrying(files_, events_, true, source, [&] { return files_.SameContent(paths.current, source); })) {
            positions_.push_back(kNothingToDo);  // already this version: its backup stays the previous one
            Tell(events_, Step::Identical, name);
            continue;
        }
        positions_.push_back(static_cast<int>(entries_.size()));
        entries_.push_back({.name = name,
                            .hadCurrent = current.exists,
                            .hadBackup = backup.exists,
                            .size = fresh.size,
                            .modified = fresh.modified});
    }
    if (!entries_.empty()) {
        open_ = true;  // from here on a failure undoes, even one while the journal is written
        files_.WriteWholeFile(Join(app_, kJournalName), FormatJournal(entries_, entryLines_));
    }
}

bool UpdateTransaction::Stage(std::size_t position, const std::function<void()>& progress) {
    const int at = positions_.at(position);
    if (at == kAbsent || at == kNothingToDo) {
        return at == kNothingToDo;
    }
    UpdateEntry& entry = entries_[static_cast<std::size_t>(at)];
    const Paths paths(app_, entry);
    const std::wstring source = Join(updates_, entry.name);
    if (const std::wstring_view folder = FolderPart(entry.name); !folder.empty()) {
        files_.CreateFolders(Join(app_, folder));
    }
    try {
        Retrying(files_, events_, true, source, [&] { files_.Copy(source, paths.staged, progress); });
    } catch (const RuntimeError& error) {
        if (error.Number() != kErrFileNotFound || files_.FileExists(source)) {
            throw;
        }
        // Vanished since it was planned: nothing to apply here.
        files_.WriteAt(Join(app_, kJournalName), entryLines_[static_cast<std::size_t>(at)], std::string(1, kVanished));
        entry.vanished = true;
        files_.Remove(paths.staged);
        Tell(events_, Step::Vanished, entry.name);
        return false;
    }
    const FileFacts staged = files_.Facts(paths.staged);
    if (staged.size != entry.size || staged.modified != entry.modified) {
        throw RuntimeError(kErrPathFileAccess, L"Path/File access error: " + source + L" changed while it was copied");
    }
    Tell(events_, Step::Staged, entry.name);
    return true;
}

void UpdateTransaction::Commit() {
    if (!open_) {
        return;  // nothing to apply
    }
    for (const UpdateEntry& entry : entries_) {
        if (!entry.vanished) {
            const std::wstring staged = Paths(app_, entry).staged;
            Retrying(files_, events_, true, staged, [&] { files_.Flush(staged); });
        }
    }
    const std::wstring journal = Join(app_, kJournalName);
    committing_ = true;
    files_.WriteAt(journal, kHeader.size(), std::string(1, kCommitting));
    Renames renames(files_, app_, true, events_);
    renames.Complete(entries_);
    open_ = false;  // every file is in place: the update stands, whatever follows
    try {
        renames.Tidy(entries_, journal);
    } catch (const RuntimeError&) {
        // Left to the next start, which finds every file in place and tidies up.
    }
}

void UpdateTransaction::RollBack() noexcept {
    if (!open_) {
        return;
    }
    const std::wstring journal = Join(app_, kJournalName);
    bool undone = false;
    try {
        Renames(files_, app_, true, events_).Undo(entries_, committing_ ? kCommitting : kStaging, journal);
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
