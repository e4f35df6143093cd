#include "app/form1.h"

#include <algorithm>

#include "app/command_line.h"
#include "app/elevated.h"
#include "update/file_names.h"
#include "update/folder_trust.h"
#include "update/transaction.h"
#include "update/progress.h"
#include "update/update_list.h"

namespace tessaloom {
namespace {

constexpr std::int32_t kCsidlPersonal = 5;
constexpr std::int32_t kCsidlFlagCreate = 0x8000;
constexpr std::int32_t kStatusFolderMissing = 1;
constexpr std::int32_t kStatusInvalidArgument = static_cast<std::int32_t>(0x80070057U);

// True while an updater, in whatever session, runs a transaction in the
// folder: its lock file is there and cannot be read, being open without
// sharing. A lock file that a power cut left behind can be read.
bool TransactionUnderWay(Files& files, const std::wstring& app) {
    const std::wstring lock = Join(app, kLockName);
    return files.Facts(lock).exists && !files.ReadWholeFile(lock);
}

}  // namespace

// Takes the claim on the application folder, or says why not: false when
// another updater of this session holds it, whose window is brought to the
// front. A name squatted by anything else does not keep the main program from
// starting: the updater goes on without the claim.
bool Form1::ClaimFolder() {
    switch (p_.process.ClaimApplicationFolder()) {
    case Claim::Taken:
        return true;
    case Claim::Updater:
        p_.process.ActivateOtherInstance();
        return false;
    case Claim::Squatted:
        log_.Note(L"Another program holds the name of this folder's updater claim; going on without it");
        return true;
    }
    return true;
}

template <typename Handler>
void Form1::Boundary(Handler handler) {
    try {
        handler();
        return;
    } catch (...) {
        p_.dialogs.Error(RuntimeErrorText(CurrentError()), kAppTitle);
    }
    ended_ = true;
}

// A click that was queued while a button's work ran (and is delivered by the
// success box's message loop) must not start that work again: a second walk
// would back the new files up over the old ones.
template <typename Handler>
void Form1::Click(Handler handler) {
    if (clickRunning_ || !Running()) {
        return;
    }
    clickRunning_ = true;
    Boundary(handler);
    clickRunning_ = false;
}

void Form1::Load() {
    Boundary([this] { Form_Load(); });
    if (Running()) {
        Boundary([this] { p_.view.Show(); });
    }
}

void Form1::Form_Load() {
    const std::wstring app = p_.process.ApplicationFolder();
    if (!FinishInterruptedUpdate(app)) {
        loaded_ = false;  // another updater is at work on it
        return;
    }
    ApplyTheme();
    const std::wstring exe = p_.process.ExecutableName();
    p_.registry.RegisterOpenCommand(Join(app, exe), Join(app, exe) + L".EXE");
    TraiteCommande();
    TargetCommand = TrimSpaces(p_.process.CommandLine());
    if (TargetCommand.empty()) {
        loaded_ = false;  // nothing to start: end at once, never shown
        return;
    }
    CheckforUpdates();
}

// An update that a crash cut short is finished or undone before anything
// else runs, where this user cannot write the application folder by an
// instance with administrator rights. If it cannot be, the main program is
// not started over a half-changed install; staged files alone are left for
// the next walk, which removes them first. False when another updater of
// this session is at work in the folder: its update is not interrupted, and
// it starts the main program when it is done. An updater of another session
// at work is left to finish too.
bool Form1::FinishInterruptedUpdate(const std::wstring& app) {
    const Interrupted interrupted = FindInterruptedUpdate(p_.files, app);
    // Staged files alone, or what a complete update left to tidy, never
    // keep the main program from starting nor ask for rights.
    const bool blocking = interrupted == Interrupted::Committing || interrupted == Interrupted::Damaged;
    if (interrupted == Interrupted::None || (!blocking && !CanWrite(app))) {
        return true;
    }
    if (!ClaimFolder()) {
        return false;
    }
    if (TransactionUnderWay(p_.files, app)) {
        // An updater of another session is at work: its update is not
        // interrupted, and this start neither waits for it nor asks for rights.
        log_.Note(L"Another updater is applying an update to this folder");
        return true;
    }
    if (!CanWrite(app) && RefusedElevation(app, {}, L"An interrupted update cannot be finished.")) {
        return true;
    }
    try {
        if (CanWrite(app)) {
            RecoverInterruptedUpdate(p_.files, app, &log_);
        } else {
            const std::unique_ptr<Channel> elevated = p_.elevation.StartElevated(p_.view.Handle());
            if (!elevated) {
                throw RuntimeError(kErrAccessDenied,
                                   L"Access is denied: administrator rights are needed to finish "
                                   L"an interrupted update of " +
                                       app);
            }
            ApplyElevated(*elevated, p_.files, {app, {}, {}}, log_, [](std::size_t) {});
        }
    } catch (const RuntimeError& error) {
        if (!blocking) {
            log_.Note(L"Left for the walk to finish: error " + DecimalText(error.Number()) + L" at start-up");
            return true;
        }
        // Kept in the log beside the update list, where support looks.
        log_.Begin(p_.process.LocalTime(), p_.process.Version(), app, UpdateFolder());
        log_.Failed(error);
        log_.Write(p_.files, UpdateFolder());
        throw;
    }
    return true;
}

// Whether this user may change the application folder: asked once a run,
// since the answer takes a file created and removed there.
bool Form1::CanWrite(const std::wstring& app) {
    if (!writable_) {
        writable_ = p_.elevation.CanWrite(app);
    }
    return *writable_;
}

void Form1::ApplyTheme() {
    fonceid = 0x00835900;  // (0, 89, 131)
    clairid = 0x00E1D7C2;  // (194, 215, 225)
    moyenid = 0x00C1AC7F;  // (127, 172, 193)
    for (int index = 0; index <= 2; ++index) {
        p_.view.SetBorderColor({L"Shape1_up", index}, moyenid);
    }
    p_.view.SetBackColor(kWindow, clairid);
    p_.view.SetBackColor({L"Command1"}, clairid);
    p_.view.SetBackColor({L"Command2"}, clairid);
    p_.view.SetBackColor({L"Frame1_up"}, clairid);
}

void Form1::TraiteCommande() { ProcessArguments() = SplitArguments(p_.process.CommandLine()); }

SpecialFolder& Form1::Special_Folder() {
    p_.files.SetCurrentFolder(p_.process.ApplicationFolder());
    if (!FolderService) {
        FolderService = p_.makeSpecialFolder();
    }
    return *FolderService;
}

void Form1::Special_Folder(std::unique_ptr<SpecialFolder> folder) {
    p_.files.SetCurrentFolder(p_.process.ApplicationFolder());
    FolderService = std::move(folder);
}

std::wstring Form1::CreateNewforder(std::int32_t SpecialDirectoriesname) {
    auto [status, path] = Special_Folder().FolderPathCreating(SpecialDirectoriesname | kCsidlFlagCreate);
    if (status == kStatusInvalidArgument) {
        p_.dialogs.Message(L"An invalid folder ID was specified", kAppTitle);
    } else if (status == kStatusFolderMissing) {
        p_.dialogs.Message(L"The folder does not exist", kAppTitle);
    }
    return status == 0 ? path : std::wstring();
}

bool Form1::LoadFilesUpdates(const std::wstring& file, std::vector<std::wstring>& FileCollection,
                             std::wstring& NetWorkPath) {
    FileCollection.clear();
    try {
        p_.files.SetCurrentFolder(p_.process.ApplicationFolder());
        if (!p_.files.FileExists(file)) {
            return false;
        }
        const std::optional<std::string> bytes = p_.files.ReadWholeFile(file);
        if (!bytes) {
            return false;
        }
        std::optional<UpdateList> list = ParseUpdateList(*bytes, p_.decodeAnsi);
        if (!list) {
            return false;
        }
        NetWorkPath = std::move(list->networkPath);
        FileCollection = std::move(list->names);
        return true;
    } catch (const RuntimeError&) {
        return false;  // any failure reads as "no list"
    }
}

// The update folder in this user's Documents folder, or nothing without a
// real Documents folder: the path would then name a folder relative to
// wherever we stand, which anyone may have made.
std::wstring Form1::UpdateFolder() {
    const std::wstring documents = Special_Folder().Return_Special_Path(p_.view.Handle(), kCsidlPersonal);
    if (!IsAbsolutePath(documents) || !p_.files.Facts(documents).folder) {
        return {};
    }
    return documents + L"\\My TessaloomSaaS Projects\\Update";
}

void Form1::CheckforUpdates() {
    const std::wstring updates = UpdateFolder();
    p_.view.SetWidth(kFill, 0);
    p_.view.ClearList();
    std::vector<std::wstring> names;
    if (updates.empty() || !LoadFilesUpdates(updates + L"\\TessaloomUpdate.txt", names, UpdatePath)) {
        LaunchTargetAndClose();
        return;
    }
    // One updater at a time walks an application folder.
    if (!ClaimFolder()) {
        loaded_ = false;
        return;
    }
    UpdatePath = updates;
    PendingFiles.clear();
    // A name that could reach outside the application folder is never
    // offered. The others are looked up all at once: a long list of names
    // most of which are absent then costs one look through the folder.
    std::erase_if(names, [](const std::wstring& name) { return !IsPlainRelativeName(name); });
    std::vector<std::wstring> paths;
    for (const std::wstring& name : names) {
        paths.push_back(Join(UpdatePath, name));
    }
    const std::vector<FileFacts> found = p_.files.FactsOfAll(paths);
    for (std::size_t i = 0; i < names.size(); ++i) {
        // An ordinary file, as the existence test sees one: a plain name holds no pattern.
        if (found[i].exists && !found[i].folder && !found[i].hiddenOrSystem) {
            p_.view.AddListLine(names[i]);
            PendingFiles.push_back(names[i]);
        }
    }
}

void Form1::Command1_Click() {
    Click([this] { Walk(); });
}

// Applies the update and leaves a log of it beside the update list: written
// once the walk has ended, before the main program starts, or after a failed
// update was undone and before its error is shown. A log that cannot be
// written is given up.
void Form1::Walk() {
    log_.Begin(p_.process.LocalTime(), p_.process.Version(), p_.process.ApplicationFolder(), UpdatePath);
    try {
        CheckforUpdatesOk();
    } catch (...) {
        log_.Failed(CurrentError());
        log_.Write(p_.files, UpdatePath);
        throw;
    }
    if (!log_.Written()) {
        log_.Write(p_.files, UpdatePath);  // the window stays open
    }
}

// Stages every pending file, moving the bar per position, then commits them
// all at once: a failure anywhere puts every file back before it is reported.
// Where this user may not change the application folder, an instance of the
// updater with administrator rights does the same for the same names, and
// the bar follows its reports.
void Form1::CheckforUpdatesOk() {
    p_.view.SetWidth(kFill, 0);
    const int count = p_.view.ListCount();
    const std::wstring app = p_.process.ApplicationFolder();
    const std::vector<std::wstring> names(
        PendingFiles.begin(), PendingFiles.begin() + std::min<std::ptrdiff_t>(count, std::ssize(PendingFiles)));
    bool applied = false;
    if (!names.empty() && !CanWrite(app)) {
        if (RefusedElevation(app, names, L"This update cannot be applied.")) {
            LaunchTargetAndClose();
            return;
        }
        const std::unique_ptr<Channel> elevated = p_.elevation.StartElevated(p_.view.Handle());
        if (!elevated) {
            log_.Note(L"Administrator rights were declined: nothing was changed");
            return;  // the window stays: "Cancel" still starts the main program
        }
        log_.Note(L"Applied with administrator rights: this user may not change the application folder");
        ApplyElevated(*elevated, p_.files, {UpdatePath, names, {}}, log_, [&](std::size_t position) {
            applied = true;
            ShowApplied(static_cast<int>(position) + 1, names[position]);
        });
    } else {
        UpdateTransaction update(p_.files, app, UpdatePath, &log_);
        ApplyUpdate(
            update, names,
            [&](std::size_t position) {
                applied = true;
                ShowApplied(static_cast<int>(position) + 1, names[position]);
            },
            [this] { p_.view.Refresh(); });
    }
    log_.Note(applied ? L"Update complete" : L"Nothing was applied");
    if (applied) {
        p_.view.Paint();  // the last file's name and the full bar, before the box
        p_.dialogs.Message(L"Tessaloom updated with success", p_.process.ProductName());
    }
    LaunchTargetAndClose();
}

// Administrator rights are asked for only where the instance that has them
// would not refuse: true, when it would, once the user has been told why
// (`what` says what cannot be done) and it is in the log.
bool Form1::RefusedElevation(const std::wstring& app, const std::vector<std::wstring>& names,
                             const std::wstring& what) {
    const std::optional<std::wstring> why = ApplicationFolderRefusal(p_.guards, app, names);
    if (!why) {
        return false;
    }
    std::wstring reason = NotElevatingThere(*why);
    log_.Note(what + L" Nothing was changed: " + reason);
    reason[0] = L'A';
    p_.dialogs.Message(what + L" " + reason + L".\n\nNothing was changed.", p_.process.ProductName());
    return true;
}

// Moves the bar to a position (from 1) that was applied and names its file.
void Form1::ShowApplied(int position, const std::wstring& name) {
    p_.files.SetCurrentFolder(p_.process.ApplicationFolder());
    p_.view.Show();
    const float fill = FillWidth(position, p_.view.Width(kTrack), static_cast<int>(PendingFiles.size()));
    p_.view.SetWidth(kFill, fill);
    const float shown = p_.view.Width(kFill);
    const float cap = p_.view.Width(kCap);
    if (CapVisible(cap, shown)) {
        p_.view.SetVisible(kCap, true);
    }
    p_.view.SetLeft(kCap, CapLeft(shown, p_.view.Left(kFill), cap));
    p_.view.SetCaption(kFileLabel, name);
    p_.view.Refresh();
}

void Form1::Command2_Click() {
    Click([this] { LaunchTargetAndClose(); });
}

// The log is written and the claim on the folder given up before the main
// program starts: a main program that starts the updater again at once
// finds the folder free.
void Form1::LaunchTargetAndClose() {
    p_.files.SetCurrentFolder(p_.process.ApplicationFolder());
    std::replace(TargetCommand.begin(), TargetCommand.end(), L'"', L' ');
    TargetCommand = TrimSpaces(TargetCommand);
    if (!TargetCommand.empty()) {
        TargetCommand = L"\"" + TargetCommand + L"\"";
    }
    if (log_.Begun()) {
        if (!TargetCommand.empty()) {
            log_.Note(L"Starting " + TargetCommand);
        }
        log_.Write(p_.files, UpdatePath);
    }
    p_.process.ReleaseApplicationFolder();
    if (!TargetCommand.empty()) {
        p_.process.Start(TargetCommand);
    }
    p_.view.Unload();
    loaded_ = false;
}

}  // namespace tessaloom
