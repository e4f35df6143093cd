#include "update/walk_log.h"

#include "core/text.h"
#include "update/file_names.h"

namespace tessaloom {
namespace {

std::wstring ErrorText(const RuntimeError& error) {
    return L"error " + DecimalText(error.Number()) + L": " + error.Description();
}

}  // namespace

void WalkLog::Begin(const std::wstring& time, const std::wstring& version, const std::wstring& applicationFolder,
                    const std::wstring& updateFolder) {
    if (Begun()) {
        lines_.clear();  // the earlier walk's lines are in its own log
    }
    written_ = false;
    heading_ = {L"TessaloomUpdate " + version + L", update started " + time,
                L"Application folder: " + applicationFolder, L"Update folder: " + updateFolder};
}

namespace {

// What a step's note says before the name it concerns and after it; a note
// without an "after" names nothing.
struct StepNote {
    const wchar_t* before;
    const wchar_t* after;
};

StepNote NoteOf(UpdateEvents::Step step) {
    using Step = UpdateEvents::Step;
    switch (step) {
    case Step::Absent:
        return {L"", L": skipped, not in the update folder"};
    case Step::ListedTwice:
        return {L"", L": listed twice, applied once"};
    case Step::Identical:
        return {L"", L": left alone, already identical to the new file"};
    case Step::Staged:
        return {L"", L": staged"};
    case Step::Vanished:
        return {L"", L": skipped, the new file vanished before it was copied"};
    case Step::BackedUp:
        return {L"", L": backed up as "};  // and the backup's name
    case Step::Replaced:
        return {L"", L": new file in place"};
    case Step::Recovering:
        return {L"An interrupted update was found: ", L""};
    case Step::RecoveryFinished:
        return {L"The interrupted update was finished: every new file is in place", nullptr};
    case Step::RecoveryUndone:
        return {L"The interrupted update was undone: every file is as it was before it", nullptr};
    case Step::RolledBack:
        return {L"Every change of this update was undone: the application folder is as it was", nullptr};
    case Step::RollBackLeft:
        return {L"Undoing this update stopped short; the next start finishes it from ", L""};
    case Step::Abandoned:
        return {L"", L": left as it is now, it changed since the update was interrupted; its staged new file was removed"};
    case Step::JournalDamaged:
        return {L"The record of an interrupted update is damaged and was left alone: ", L""};
    case Step::TidyingLeft:
        return {L"The update is complete; what is left to tidy is tried again at the next start: ", L""};
    }
    return {L"", L""};
}

}  // namespace

void WalkLog::Did(Step step, const std::wstring& name) {
    const StepNote note = NoteOf(step);
    std::wstring line = note.before;
    if (note.after != nullptr) {
        line += name;
        line += note.after;
    }
    if (step == Step::BackedUp) {
        line += BackupName(name);
    }
    Note(line);
}

void WalkLog::Retrying(const std::wstring& path, const RuntimeError& error, int pauseMilliseconds) {
    Note(L"Retry in " + DecimalText(pauseMilliseconds) + L" ms: " + path + L": " + ErrorText(error));
}

// Every note is one line of the log, whatever its parts hold: an error's
// description, a command line or a name reported by the elevated instance
// may carry line ends of their own.
void WalkLog::Note(const std::wstring& line) {
    std::wstring& added = lines_.emplace_back(line);
    for (wchar_t& c : added) {
        if (c == L'\r' || c == L'\n') {
            c = L' ';
        }
    }
}

void WalkLog::Failed(const RuntimeError& error) { Note(L"Update failed: " + ErrorText(error)); }

std::string WalkLog::Text() const {
    std::string text = "\xEF\xBB\xBF";
    for (const auto* part : {&heading_, &lines_}) {
        for (const std::wstring& line : *part) {
            text += EncodeUtf8(line) + "\r\n";
        }
    }
    return text;
}

void WalkLog::Write(Files& files, const std::wstring& folder) noexcept {
    if (folder.empty()) {
        return;  // no update folder to write it in
    }
    try {
        const std::wstring path = Join(folder, kLogName);
        const std::wstring previous = path + kPreviousLogSuffix;
        try {
            if (!written_ && files.Facts(path).exists) {
                files.Remove(previous);
                files.RenameFile(path, previous);
            }
        } catch (const RuntimeError&) {
            // The previous log is lost, not this one.
        }
        written_ = true;
        files.WriteWholeFile(path, Text());
    } catch (...) {
        // Support loses the log; the walk's outcome stands.
    }
}

}  // namespace tessaloom
