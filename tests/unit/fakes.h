#pragma once
// In-memory stand-ins for the machine, recording what the update flow does in
// one journal so tests can check both effects and their order.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <string>
#include <vector>

#include "app/elevated.h"
#include "core/digest.h"
#include "app/form1.h"
#include "core/seams.h"
#include "ui/form_model.h"
#include "update/folder_trust.h"

namespace tessaloom::test {

using Journal = std::vector<std::wstring>;

// The number of the run-time error an action raises, or 0 when it raises none.
inline std::int32_t ErrorNumber(const std::function<void()>& action) {
    try {
        action();
    } catch (const RuntimeError& error) {
        return error.Number();
    }
    return 0;
}

// The journal without the walk's log being written.
inline Journal WithoutLog(const Journal& journal) {
    Journal rest;
    for (const std::wstring& entry : journal) {
        if (entry.find(L"\\TessaloomUpdate.log") == std::wstring::npos) {
            rest.push_back(entry);
        }
    }
    return rest;
}

inline std::wstring ParentOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

struct FakeFile {
    std::string content;
    bool hidden = false;
    bool readOnly = false;
    std::uint64_t modified = 0;
};

// The process dying: every operation after it fails too, so nothing undoes.
struct Crash {};

class FakeFiles final : public Files {
public:
    explicit FakeFiles(Journal& journal) : journal_(journal) {}

    std::map<std::wstring, FakeFile> files;
    std::wstring currentFolder;
    // Faults: the n-th change (counted from 1) fails with `failNumber`, or
    // the process dies there; paths held open by others fail with a sharing
    // violation that many more times (-1: for good); sources that disappear
    // when their copy begins.
    int changes = 0;
    int failAt = 0;
    std::int32_t failNumber = 112;  // the disk is full
    int crashAt = 0;
    bool crashed = false;
    std::map<std::wstring, int> locked;
    std::int32_t lockNumber = kErrSharingViolation;  // what a held file answers
    std::set<std::wstring> vanishing;
    std::set<std::wstring> changing;  // sources written to while they are copied
    // Sources rewritten, size and time kept, as their copy begins: through a
    // handle the window handed over that can still write.
    std::map<std::wstring, std::string> rewritten;
    std::uint64_t timeResolution = 1;  // of the application folder's volume, in 100 ns
    Volume volume;                     // of the application folder
    std::vector<int> pauses;
    std::set<std::wstring> folders;  // made by CreateFolders
    std::set<std::wstring> locks;    // lock files held
    std::map<std::wstring, int> opened;
    std::set<std::wstring> writing;                 // copies still open, shared with no one
    bool openByPath = true;                         // false while the elevated instance works
    std::uint64_t clock = 133'000'000'000'000'000;  // each write stamps the next second

    std::uint64_t Tick() { return clock += 10'000'000; }

    // Every operation on a path others hold open meets their lock.
    void Touch(const std::wstring& path) {
        if (crashed) {
            throw Crash{};
        }
        if (const auto lock = locked.find(path); lock != locked.end() && lock->second != 0) {
            --lock->second;
            throw RuntimeError(lockNumber, lockNumber == kErrSharingViolation
                                               ? L"The process cannot access the file because it is being used by "
                                                 L"another process."
                                               : L"Access is denied.");
        }
    }

    bool FileExists(const std::wstring& path) override {
        for (const auto& [name, file] : files) {
            if (!file.hidden && (name == path || (path.ends_with(L'\\') && ParentOf(name) + L"\\" == path))) {
                return true;
            }
        }
        return false;
    }
    FileFacts Facts(const std::wstring& path) override {
        if (crashed) {
            throw Crash{};
        }
        if (vanishing.contains(path)) {
            ++opened[path];  // looked at: gone by the time it is opened
        }
        if (locks.contains(path)) {
            return {.exists = true, .hiddenOrSystem = true};  // held open: it cannot be read
        }
        if (const auto found = files.find(path); found != files.end()) {
            const FakeFile& file = found->second;
            return {.exists = true,
                    .hiddenOrSystem = file.hidden,
                    .readOnly = file.readOnly,
                    .size = file.content.size(),
                    .modified = file.modified};
        }
        const auto below = files.lower_bound(path + L"\\");
        const bool folder = folders.contains(path) || (below != files.end() && below->first.starts_with(path + L"\\"));
        return {.exists = folder, .folder = folder};
    }
    std::unique_ptr<SourceFile> OpenSource(const std::wstring& path) override {
        if (!openByPath) {
            throw RuntimeError(kErrInternal, L"Internal error: opened by path with administrator rights: " + path);
        }
        Touch(path);
        if (vanishing.contains(path) && opened[path]++ > 0) {
            vanishing.erase(path);
            files.erase(path);  // gone by the time its copy begins
        }
        const auto found = files.find(path);
        if (found == files.end() || found->second.hidden) {
            return nullptr;
        }
        return std::make_unique<Source>(*this, path);
    }
    // A file the window opened, handed to the elevated instance: the same
    // file again (a new file that vanishes does so now, as on a second open),
    // without counting as opening it by path.
    std::unique_ptr<SourceFile> Reopen(SourceFile& handedOver) {
        const bool allowed = std::exchange(openByPath, true);
        std::unique_ptr<SourceFile> again = OpenSource(dynamic_cast<Source&>(handedOver).Path());
        openByPath = allowed;
        return again;
    }
    std::unique_ptr<FolderLock> Lock(const std::wstring& path) override {
        if (crashed) {
            throw Crash{};
        }
        if (!locks.insert(path).second) {
            throw RuntimeError(kErrSharingViolation,
                               L"The process cannot access the file because it is being used by another process.");
        }
        // Removed when released, as a lock file is, even one a power cut left.
        struct Held final : FolderLock {
            Held(FakeFiles& files, std::wstring path) : files_(files), path_(std::move(path)) {}
            ~Held() override {
                files_.locks.erase(path_);
                files_.files.erase(path_);
            }
            FakeFiles& files_;
            std::wstring path_;
        };
        return std::make_unique<Held>(*this, path);
    }
    void Flush(const std::wstring& path) override { Change(L"flush " + path, path); }
    void FlushFolder(const std::wstring& folder) override { Change(L"flush folder " + folder, folder); }
    Volume VolumeOf(const std::wstring&) override { return volume; }
    std::uint32_t DigestOf(const std::wstring& path) override {
        Touch(path);
        return tessaloom::DigestOf(files.at(path).content);
    }
    void RenameFile(const std::wstring& from, const std::wstring& to) override {
        NotWriting(from);
        Change(L"rename " + from, from);
        if (files.contains(to) || !files.contains(from)) {
            throw RuntimeError(kErrAlreadyExists, L"Cannot create a file when that file already exists.");
        }
        files[to] = files.at(from);
        files.erase(from);
    }
    void Remove(const std::wstring& path) override {
        NotWriting(path);
        Change(L"remove " + path, path);
        files.erase(path);
    }
    void MakeOrdinary(const std::wstring& path) override {
        Change(L"ordinary " + path, path);
        if (!files.contains(path)) {
            throw RuntimeError(kErrFileNotFound, L"File not found");
        }
        files.at(path).hidden = false;
        files.at(path).readOnly = false;
    }
    void WriteWholeFile(const std::wstring& path, std::string_view bytes) override {
        Change(L"write " + path, path);
        files[path] = {.content = std::string(bytes), .modified = Tick()};
    }
    void WriteAt(const std::wstring& path, std::uint64_t offset, std::string_view bytes) override {
        Change(L"write " + path, path);
        files.at(path).content.replace(offset, bytes.size(), bytes);
    }
    std::vector<std::wstring> CreateFolders(const std::wstring& folder) override {
        Change(L"folder " + folder, folder);
        if (Facts(folder).folder) {
            return {};
        }
        folders.insert(folder);
        return {folder};
    }
    void RemoveEmptyFolder(const std::wstring& folder) override {
        const auto below = files.lower_bound(folder + L"\\");
        if (below == files.end() || !below->first.starts_with(folder + L"\\")) {
            folders.erase(folder);
        }
    }
    std::optional<std::string> ReadWholeFile(const std::wstring& path) override {
        if (const auto lock = locked.find(path); lock != locked.end() && lock->second != 0) {
            --lock->second;
            return std::nullopt;  // held by someone else
        }
        const auto found = locks.contains(path) ? files.end() : files.find(path);
        return found == files.end() ? std::nullopt : std::optional(found->second.content);
    }
    void SetCurrentFolder(const std::wstring& folder) override { currentFolder = folder; }
    void Pause(int milliseconds) override { pauses.push_back(milliseconds); }

private:
    // A copy still open: it is flushed as a file is, and no one may rename
    // or remove it meanwhile.
    class Written final : public WrittenFile {
    public:
        Written(FakeFiles& files, std::wstring path) : files_(files), path_(std::move(path)) {
            files_.writing.insert(path_);
        }
        ~Written() override { files_.writing.erase(path_); }
        Written(const Written&) = delete;
        Written& operator=(const Written&) = delete;
        void Flush() override { files_.Flush(path_); }

    private:
        FakeFiles& files_;
        std::wstring path_;
    };

    // A new file held open: reads meet locks, a copy is a change.
    class Source final : public SourceFile {
    public:
        Source(FakeFiles& files, std::wstring path) : files_(files), path_(std::move(path)) {}
        [[nodiscard]] const std::wstring& Path() const { return path_; }
        FileFacts Facts() override { return files_.Facts(path_); }
        bool SameContentAs(const std::wstring& other) override {
            files_.Touch(other);
            return files_.files.at(other).content == files_.files.at(path_).content;
        }
        Copied CopyTo(const std::wstring& to, const std::function<void()>& progress) override {
            files_.Change(L"copy " + to, path_);
            progress();
            FakeFile& source = files_.files.at(path_);
            if (const auto rewrite = files_.rewritten.find(path_); rewrite != files_.rewritten.end()) {
                source.content = rewrite->second;
            }
            const std::uint64_t resolution = files_.timeResolution;
            files_.files[to] = {.content = source.content,
                                .modified = (source.modified + resolution - 1) / resolution * resolution};
            Copied copied{source.content.size(), tessaloom::DigestOf(source.content),
                          std::make_unique<Written>(files_, to)};
            if (files_.changing.contains(path_)) {
                source.modified = files_.Tick();  // written meanwhile, same size
            }
            return copied;
        }

    private:
        FakeFiles& files_;
        std::wstring path_;
    };

    void NotWriting(const std::wstring& path) const {
        if (writing.contains(path)) {
            throw RuntimeError(kErrSharingViolation,
                               L"The process cannot access the file because it is being used "
                               L"by another process.");
        }
    }

    void Change(const std::wstring& what, const std::wstring& path) {
        Touch(path);
        ++changes;
        if (changes == crashAt) {
            crashed = true;
            throw Crash{};
        }
        if (changes == failAt) {
            throw RuntimeError(failNumber, L"There is not enough space on the disk.");
        }
        journal_.push_back(what);
    }

    Journal& journal_;
};

class FakeProcess final : public Process {
public:
    explicit FakeProcess(Journal& journal) : journal_(journal) {}

    std::wstring commandLine;
    std::set<std::wstring> startable;  // command lines that start; others fail as a missing file
    std::wstring startedFrom;

    std::wstring CommandLine() override { return commandLine; }
    std::wstring ApplicationFolder() override { return L"C:\\App"; }
    std::wstring ExecutableName() override { return L"TessaloomUpdate"; }
    std::wstring ProductName() override { return L"UpdateTessaloom"; }
    std::wstring Version() override { return L"4.00.0006"; }
    std::wstring LocalTime() override { return L"2024-05-31 14:03:27 UTC+02:00"; }
    bool otherUpdaterRunning = false;
    bool squatted = false;  // another program holds the claim's name
    bool claimed = false;
    bool claimedAtStart = false;  // the main program was started while the claim was held
    Claim ClaimApplicationFolder() override {
        if (otherUpdaterRunning || squatted) {
            return otherUpdaterRunning ? Claim::Updater : Claim::Squatted;
        }
        claimed = true;
        return Claim::Taken;
    }
    void ReleaseApplicationFolder() override { claimed = false; }
    void ActivateOtherInstance() override { journal_.push_back(L"activate the other updater"); }
    void Start(const std::wstring& line) override {
        if (!startable.contains(line)) {
            throw RuntimeError(2, L"The system cannot find the file specified.");
        }
        journal_.push_back(L"start " + line);
        claimedAtStart = claimedAtStart || claimed;
    }

private:
    Journal& journal_;
};

class FakeDialogs final : public Dialogs {
public:
    explicit FakeDialogs(Journal& journal) : journal_(journal) {}
    std::function<void()> whileShown;  // what happens while a message is on screen
    void Message(const std::wstring& text, const std::wstring& caption) override {
        journal_.push_back(L"message " + caption + L": " + text);
        if (whileShown) {
            whileShown();
        }
    }
    void Error(const std::wstring& text, const std::wstring& caption) override {
        journal_.push_back(L"error " + caption + L": " + text);
    }

private:
    Journal& journal_;
};

class FakeRegistry final : public Registry {
public:
    std::vector<std::pair<std::wstring, std::wstring>> calls;
    void RegisterOpenCommand(const std::wstring& documentPath, const std::wstring& programPath) override {
        calls.emplace_back(documentPath, programPath);
    }
};

class FakeSpecialFolder final : public SpecialFolder {
public:
    explicit FakeSpecialFolder(std::wstring documents) : documents_(std::move(documents)) {}
    void Display_About(std::uintptr_t, const std::wstring&, const std::wstring&, std::uintptr_t) override {}
    std::wstring Return_Special_Path(std::uintptr_t, std::int32_t folder) override {
        return folder == 5 ? documents_ : std::wstring();
    }
    void set_Window_Caption(std::uintptr_t, const std::wstring&) override {}
    std::pair<std::int32_t, std::wstring> FolderPathCreating(std::int32_t folder) override {
        if (folder == (5 | 0x8000)) {
            return {0, documents_};
        }
        return {folder == (0x2B | 0x8000) ? 1 : static_cast<std::int32_t>(0x80070057U), {}};
    }

private:
    std::wstring documents_;
};

// The real control model, with every change of the progress fill recorded.
class RecordingView final : public FormView {
public:
    ui::FormModel model{[](const ui::ControlRow&, std::wstring_view text) {
        return ui::TextExtent{static_cast<float>(text.size()) * 90.0F, 210.0F};
    }};
    std::vector<float> fillWidths;
    // The progress row as each repaint shows it.
    struct Frame {
        float fill = 0;
        bool capShown = false;
        float capRight = 0;
        float fillRight = 0;
    };
    std::vector<Frame> frames;
    // The fill and the file's name as the last paint showed them.
    float paintedFill = 0;
    std::wstring paintedName;

    std::uintptr_t Handle() override { return model.Handle(); }
    void SetBackColor(ControlRef c, std::uint32_t colour) override { model.SetBackColor(c, colour); }
    void SetBorderColor(ControlRef c, std::uint32_t colour) override { model.SetBorderColor(c, colour); }
    void ClearList() override { model.ClearList(); }
    void AddListLine(const std::wstring& line) override { model.AddListLine(line); }
    int ListCount() override { return model.ListCount(); }
    float Left(ControlRef c) override { return model.Left(c); }
    float Width(ControlRef c) override { return model.Width(c); }
    void SetLeft(ControlRef c, float twips) override { model.SetLeft(c, twips); }
    void SetWidth(ControlRef c, float twips) override {
        if (c.name == kFill.name) {
            fillWidths.push_back(twips);
        }
        model.SetWidth(c, twips);
    }
    void SetVisible(ControlRef c, bool visible) override { model.SetVisible(c, visible); }
    void SetCaption(ControlRef c, const std::wstring& caption) override { model.SetCaption(c, caption); }
    void Show() override { model.Show(); }
    void Refresh() override {
        const ui::ControlState& fill = model.At(kFill);
        const ui::ControlState& cap = model.At(kCap);
        frames.push_back({fill.width, cap.visible, cap.left + cap.width, fill.left + fill.width});
    }
    void Paint() override {
        paintedFill = model.At(kFill).width;
        paintedName = model.At(kFileLabel).caption;
    }
    void Unload() override { model.Unload(); }
};

// What guards each path. Unless a test says otherwise, every folder is as an
// installer leaves it under Program Files (owned by Administrators, changed
// only by them, SYSTEM and TrustedInstaller) and nothing is a reparse point.
class FakeGuards final : public Guards {
public:
    std::map<std::wstring, Guard> folders;
    std::set<std::wstring> reparsePoints;
    std::set<std::wstring> unreadable;  // looking at these fails
    std::vector<std::wstring> looked;   // every entry looked at

    static Guard Installed() {
        return {.found = true,
                .folder = true,
                .owner = kAdministratorsSid,
                .dacl = {{.sid = kSystemSid, .mask = 0x1F01FF},
                         {.sid = kAdministratorsSid, .mask = 0x1F01FF},
                         {.sid = kTrustedInstallerSid, .mask = 0x1F01FF},
                         {.sid = L"S-1-5-32-545", .mask = 0x1200A9},
                         {.inheritOnly = true, .sid = L"S-1-3-0", .mask = kRightGenericAll}}};
    }
    Guard Folder(const std::wstring& path) override {
        Look(path);
        Guard guard = folders.contains(path) ? folders.at(path) : Installed();
        guard.reparsePoint = guard.reparsePoint || reparsePoints.contains(path);
        return guard;
    }
    bool IsReparsePoint(const std::wstring& path) override {
        Look(path);
        return reparsePoints.contains(path);
    }

private:
    void Look(const std::wstring& path) {
        looked.push_back(path);
        if (unreadable.contains(path)) {
            throw RuntimeError(kErrAccessDenied, L"Access is denied.");
        }
    }
};

// Administrator rights on fakes: asking for them is journaled; the elevated
// instance runs ApplyForParent on the same files when the plan is handed over.
class FakeElevation final : public Elevation {
public:
    FakeElevation(Journal& journal, FakeFiles& files, FakeGuards& guards)
        : journal_(journal), files_(files), guards_(guards) {}
    bool writable = true;
    bool declined = false;
    StagedCheck check;  // what the elevated instance checks new files with

    bool CanWrite(const std::wstring& folder) override { return writable || folder != L"C:\\App"; }
    std::unique_ptr<Channel> StartElevated(std::uintptr_t) override {
        journal_.push_back(L"ask for administrator rights");
        if (declined) {
            return nullptr;
        }
        return std::make_unique<Instance>(files_, guards_, check);
    }

private:
    // The window's end; the elevated instance runs within Send.
    class Instance final : public Channel {
    public:
        Instance(FakeFiles& files, FakeGuards& guards, StagedCheck check)
            : files_(files), guards_(guards), check_(std::move(check)) {}
        void Send(std::string_view message) override {
            struct Child final : Channel {
                Child(std::string plan, std::deque<std::string>& reports, Instance& parent)
                    : plan_(std::move(plan)), reports_(reports), parent_(parent) {}
                void Send(std::string_view report) override { reports_.emplace_back(report); }
                std::optional<std::string> Receive() override { return std::exchange(plan_, std::nullopt); }
                std::uint64_t HandOver(std::unique_ptr<SourceFile>) override { throw Crash{}; }
                std::unique_ptr<SourceFile> TakeOver(std::uint64_t number) override {
                    parent_.takenOver.push_back(number);
                    return parent_.files_.Reopen(*parent_.handedOver.at(number - 1));
                }
                std::optional<std::string> plan_;
                std::deque<std::string>& reports_;
                Instance& parent_;
            } child(std::string(message), reports_, *this);
            // With administrator rights, a new file is never opened by its path.
            files_.openByPath = false;
            ApplyForParent(files_, guards_, L"C:\\App", child, check_);
            files_.openByPath = true;
        }
        std::uint64_t HandOver(std::unique_ptr<SourceFile> source) override {
            handedOver.push_back(std::move(source));
            return handedOver.size();
        }
        std::unique_ptr<SourceFile> TakeOver(std::uint64_t) override { throw Crash{}; }
        std::optional<std::string> Receive() override {
            if (reports_.empty()) {
                return std::nullopt;
            }
            std::string report = std::move(reports_.front());
            reports_.pop_front();
            return report;
        }

        std::vector<std::unique_ptr<SourceFile>> handedOver;  // by the window, kept open
        std::vector<std::uint64_t> takenOver;                 // by the elevated instance

    private:
        FakeFiles& files_;
        FakeGuards& guards_;
        StagedCheck check_;
        std::deque<std::string> reports_;
    };
    Journal& journal_;
    FakeFiles& files_;
    FakeGuards& guards_;
};

// Signatures by the content of the file read: what a test says of each
// content, and not signed for any other. Reading an installed file meets its
// locks; each staged copy checked is journaled.
class FakeSignatures final : public Signatures {
public:
    FakeSignatures(FakeFiles& files, Journal& journal) : files_(files), journal_(journal) {}
    std::map<std::string, SignedFile> byContent;
    int newFilesChecked = 0;

    SignedFile OfStaged(const std::wstring& staged, const std::wstring&) override {
        ++newFilesChecked;
        journal_.push_back(L"check " + staged);
        return Of(staged);
    }
    SignedFile OfInstalled(const std::wstring& path) override {
        files_.Touch(path);
        return Of(path);
    }

private:
    SignedFile Of(const std::wstring& path) {
        const auto file = files_.files.find(path);
        const auto found = file == files_.files.end() ? byContent.end() : byContent.find(file->second.content);
        return found == byContent.end() ? SignedFile{} : found->second;
    }
    FakeFiles& files_;
    Journal& journal_;
};

// One Form1 on fakes, with the Documents folder at C:\Docs.
struct FakeMachine {
    static constexpr wchar_t kUpdate[] = L"C:\\Docs\\My TessaloomSaaS Projects\\Update";
    static constexpr wchar_t kList[] = L"C:\\Docs\\My TessaloomSaaS Projects\\Update\\TessaloomUpdate.txt";

    Journal journal;
    FakeFiles files{journal};
    FakeProcess process{journal};
    FakeDialogs dialogs{journal};
    FakeRegistry registry;
    RecordingView view;
    FakeGuards guards;
    FakeElevation elevation{journal, files, guards};
    int specialFoldersMade = 0;
    Form1 form{Platform{files, process, dialogs, registry, view,
                        [](std::string_view bytes) { return std::wstring(bytes.begin(), bytes.end()); },
                        [this] {
                            ++specialFoldersMade;
                            return std::make_unique<FakeSpecialFolder>(L"C:\\Docs");
                        },
                        elevation, guards}};

    // The main program exists and starts when asked for by its quoted path.
    explicit FakeMachine(std::wstring commandLine = L" C:\\App\\Tessaloom Main.exe") {
        process.commandLine = std::move(commandLine);
        process.startable.insert(L"\"C:\\App\\Tessaloom Main.exe\"");
    }
    // The same machine seen through another view: Form1 on the real window.
    Platform PlatformFor(FormView& other) {
        auto decode = [](std::string_view bytes) { return std::wstring(bytes.begin(), bytes.end()); };
        auto folder = [] { return std::make_unique<FakeSpecialFolder>(L"C:\\Docs"); };
        return Platform{files, process, dialogs, registry, other, decode, folder, elevation, guards};
    }
    void List(std::string content) { files.files[kList] = {std::move(content)}; }
    void NewFile(const std::wstring& name, std::string content) {
        files.files[std::wstring(kUpdate) + L"\\" + name] = {.content = std::move(content), .modified = files.Tick()};
    }
    void AppFile(const std::wstring& name, std::string content) {
        files.files[L"C:\\App\\" + name] = {.content = std::move(content), .modified = files.Tick()};
    }
    std::string App(const std::wstring& name) {
        const auto found = files.files.find(L"C:\\App\\" + name);
        return found == files.files.end() ? "<absent>" : found->second.content;
    }
};

}  // namespace tessaloom::test
