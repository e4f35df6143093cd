#pragma once
// The narrow interfaces through which the update flow reaches the machine.
// Each has one Win32 implementation and, in the unit tests, a fake. Every
// operation that can fail throws RuntimeError unless it says otherwise.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/folder_guard.h"

namespace tessaloom {

// Turns bytes of the system's ANSI code page into text.
using AnsiDecoder = std::function<std::wstring(std::string_view)>;

// What one path names, without patterns.
struct FileFacts {
    bool exists = false;  // a file or a folder is there
    bool folder = false;
    bool hiddenOrSystem = false;  // not an ordinary file to the existence test
    bool readOnly = false;
    std::uint64_t size = 0;
    std::uint64_t modified = 0;  // last write time, in the file system's units
    bool link = false;           // a reparse point: these are its own facts, not its target's
};

// A copy just written, still open and kept from everyone else until it is
// dropped: flushing it needs no second open.
class WrittenFile {
public:
    virtual ~WrittenFile() = default;
    // Writes its content through to the disk.
    virtual void Flush() = 0;
    // Starts writing it to the disk while other work goes on; Flush then
    // finds that done, or does it.
    virtual void StartFlush() {}
};

// A new file opened once, for reading, with writers kept out while it is
// open: what is checked is what is copied.
class SourceFile {
public:
    virtual ~SourceFile() = default;
    // Size and last write time, read from the open file.
    virtual FileFacts Facts() = 0;
    // True when the file at `path` holds the same bytes.
    virtual bool SameContentAs(const std::wstring& path) = 0;
    // Copies the whole content to `to`, created or overwritten, with this
    // file's modification time; not yet flushed. `progress` is called now and
    // then while a large file is copied. Returns what was copied.
    struct Copied {
        std::uint64_t bytes = 0;
        std::uint32_t digest = 0;           // of the bytes copied (core/digest.h)
        std::unique_ptr<WrittenFile> file;  // the copy, still open
    };
    virtual Copied CopyTo(const std::wstring& to, const std::function<void()>& progress) = 0;
    // The system's handle of the open file, which another process can be
    // handed; 0 where there is none.
    [[nodiscard]] virtual std::uintptr_t Native() const { return 0; }
};

// What a volume keeps: FAT and exFAT keep local times, which move when the
// time zone or daylight saving changes, and no log of their folders' entries.
struct Volume {
    bool localTimes = false;
    bool loggedEntries = true;
};

// A claim on the application folder for one transaction, seen by every
// instance in every session; released when destroyed.
class FolderLock {
public:
    virtual ~FolderLock() = default;
};

// Files in the update folder and the application folder.
class Files {
public:
    virtual ~Files() = default;
    // True when the path names an ordinary file (not a folder, not hidden,
    // not a system file). The last component is a pattern; a path ending in
    // a backslash matches any entry of that folder. Never throws.
    virtual bool FileExists(const std::wstring& path) = 0;
    // What is at a path; nothing there when it cannot be looked at. Never throws.
    virtual FileFacts Facts(const std::wstring& path) = 0;
    // What Facts says of each path (nothing for an empty one), in the same
    // order; a system may answer many paths of a folder by listing it once.
    virtual std::vector<FileFacts> FactsOfAll(const std::vector<std::wstring>& paths) {
        std::vector<FileFacts> facts;
        facts.reserve(paths.size());
        for (const std::wstring& path : paths) {
            facts.push_back(path.empty() ? FileFacts{} : Facts(path));
        }
        return facts;
    }
    // Opens an ordinary file to copy it; nothing when none is there (no
    // file, a folder, a hidden or system file, or a missing folder on the way).
    virtual std::unique_ptr<SourceFile> OpenSource(const std::wstring& path) = 0;
    // Takes the lock file at `path` (created when missing, removed when
    // released). Throws kErrSharingViolation while someone else holds it.
    virtual std::unique_ptr<FolderLock> Lock(const std::wstring& path) = 0;
    // Writes a file's content through to the disk.
    virtual void Flush(const std::wstring& path) = 0;
    // Writes a folder's entries (renames, deletions) through to the disk.
    virtual void FlushFolder(const std::wstring& folder) = 0;
    // The kind of volume a path is on; an NTFS-like one when it cannot be told.
    virtual Volume VolumeOf(const std::wstring& path) = 0;
    // The digest of a file's whole content (core/digest.h).
    virtual std::uint32_t DigestOf(const std::wstring& path) = 0;
    // Gives a file the name of another one that does not exist.
    virtual void RenameFile(const std::wstring& from, const std::wstring& to) = 0;
    // Removes a file whatever its attributes; a file that is not there is fine.
    virtual void Remove(const std::wstring& path) = 0;
    // Clears the hidden, system and read-only attributes.
    virtual void MakeOrdinary(const std::wstring& path) = 0;
    // Writes a whole file, created or overwritten, through to the disk.
    virtual void WriteWholeFile(const std::wstring& path, std::string_view bytes) = 0;
    // Overwrites bytes of an existing file at an offset, through to the disk.
    virtual void WriteAt(const std::wstring& path, std::uint64_t offset, std::string_view bytes) = 0;
    // Creates a folder and any missing parents; returns the folders it
    // created, outermost first.
    virtual std::vector<std::wstring> CreateFolders(const std::wstring& folder) = 0;
    // Removes a folder if it is empty. Never throws.
    virtual void RemoveEmptyFolder(const std::wstring& folder) = 0;
    // The whole content of a file, or nothing when it cannot be opened or read.
    virtual std::optional<std::string> ReadWholeFile(const std::wstring& path) = 0;
    virtual void SetCurrentFolder(const std::wstring& folder) = 0;
    // Waits before an operation is tried again.
    virtual void Pause(int milliseconds) = 0;
};

// What asking for the claim on the application folder found.
enum class Claim {
    Taken,     // this updater holds it now
    Updater,   // another updater of this session holds it and proves to be one
    Squatted,  // something else holds its name: going on without it
};

// The running process and the programs it starts.
class Process {
public:
    virtual ~Process() = default;
    // The command line after the program's own name, as the process received it.
    virtual std::wstring CommandLine() = 0;
    // The folder of the executable, without a trailing backslash except at a drive root.
    virtual std::wstring ApplicationFolder() = 0;
    // The executable's file name without its extension.
    virtual std::wstring ExecutableName() = 0;
    // The product name of the executable's version information.
    virtual std::wstring ProductName() = 0;
    // The file version of the executable's version information ("4.00.0006"),
    // or the empty string. Never throws.
    virtual std::wstring Version() = 0;
    // The local date and time with its offset from UTC, for logs
    // ("2024-05-31 14:03:27 UTC+02:00"). Never throws.
    virtual std::wstring LocalTime() = 0;
    // Starts a command line, its window shown normally with the focus; does not wait.
    virtual void Start(const std::wstring& commandLine) = 0;
    // Claims the application folder for this run of the updater, for as long
    // as it runs. Never throws.
    virtual Claim ClaimApplicationFolder() = 0;
    // Gives the claim up, so that an updater started next can take it.
    virtual void ReleaseApplicationFolder() = 0;
    // Brings the window of the updater that holds the claim to the front.
    virtual void ActivateOtherInstance() = 0;
};

// A two-way connection of whole messages between the updater's window and the
// instance of it that applies an update with administrator rights.
class Channel {
public:
    virtual ~Channel() = default;
    virtual void Send(std::string_view message) = 0;
    // The next message; nothing once the other end has gone.
    virtual std::optional<std::string> Receive() = 0;
    // The window's end: keeps a new file it opened for as long as the channel
    // lives, and returns the number by which the other end takes it over.
    virtual std::uint64_t HandOver(std::unique_ptr<SourceFile> source) = 0;
    // The elevated end: the file the other end opened and handed over under
    // `number`, as an open file of this process. The elevated instance never
    // opens the user's files by path with its own rights. Throws when the
    // number names no open file of the other end.
    virtual std::unique_ptr<SourceFile> TakeOver(std::uint64_t number) = 0;
};

// Authenticode signatures as the update flow sees them: what a file's
// signature says and who signed it, and the seam that reads them.
// What Authenticode says of one file, by its own signature or by a catalog
// of the system that lists it.
enum class Signature {
    None,         // not signed (or not a kind of file that can be)
    Valid,        // signed, and the signature holds for these bytes
    Broken,       // signed, but the signature does not hold: a changed byte, a distrusted certificate
    Uncheckable,  // the check itself failed: nothing can be said of the signature
};

struct SignedFile {
    Signature signature = Signature::None;
    std::string signer;  // the signer's certificate as encoded; empty when not known
    bool image = false;  // begins with "MZ": a program, whatever its name
};

// Reads signatures. Revocation is not checked (no network); the signer is
// reported for the caller to compare.
class Signatures {
public:
    virtual ~Signatures() = default;
    // The signature of a new file's staged copy at `staged`, read through a
    // handle of its own that keeps writers out; `destination` is the name it
    // will take, which tells the system what kind of file it is.
    virtual SignedFile OfStaged(const std::wstring& staged, const std::wstring& destination) = 0;
    // The signature of the file at a path that only administrators may
    // change (the application folder, the updater itself).
    virtual SignedFile OfInstalled(const std::wstring& path) = 0;
};

// Applying where this user cannot write: an instance of this updater with
// administrator rights that applies what this one hands it.
class Elevation {
public:
    virtual ~Elevation() = default;
    // False when this user may not create files in the folder. Never throws.
    virtual bool CanWrite(const std::wstring& folder) = 0;
    // Starts this updater with administrator rights (the user is asked once)
    // and returns the connection to it; nothing when the user declined.
    virtual std::unique_ptr<Channel> StartElevated(std::uintptr_t window) = 0;
};

// Modal message boxes.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A box with an OK button only and no icon.
    virtual void Message(const std::wstring& text, const std::wstring& caption) = 0;
    // The standard run-time error box: modal, with the error's number and description.
    virtual void Error(const std::wstring& text, const std::wstring& caption) = 0;
};

// The registry value that names the updater's open command. Never throws.
class Registry {
public:
    virtual ~Registry() = default;
    virtual void RegisterOpenCommand(const std::wstring& documentPath, const std::wstring& programPath) = 0;
};

// Shell folders and window text: the operations of SpecialFolder.
class SpecialFolder {
public:
    virtual ~SpecialFolder() = default;
    virtual void Display_About(std::uintptr_t Window_Handler, const std::wstring& Application_Title,
                               const std::wstring& Application_Creator, std::uintptr_t icon = 0) = 0;
    // The file-system path of a shell folder, or the empty string.
    virtual std::wstring Return_Special_Path(std::uintptr_t Handle_Window, std::int32_t enum_SpecialDirectories) = 0;
    virtual void set_Window_Caption(std::uintptr_t Window_Handler, const std::wstring& Window_Caption) = 0;
    // The path of a shell folder, created when missing; see Form1::CreateNewforder.
    // Returns the status and the path (empty unless the status is 0).
    virtual std::pair<std::int32_t, std::wstring> FolderPathCreating(std::int32_t folderId) = 0;
};

// A control of the window, by name and, for an indexed group, element index.
struct ControlRef {
    std::wstring_view name;
    int index = -1;  // -1: not an element of an indexed group
};

// The controls the update flow drives.
inline constexpr ControlRef kWindow{L"Form1"};
inline constexpr ControlRef kList{L"List_up"};
inline constexpr ControlRef kFill{L"ShapeprogressU", 0};
inline constexpr ControlRef kTrack{L"ShapeprogressWu"};
inline constexpr ControlRef kCap{L"Image13"};
inline constexpr ControlRef kFileLabel{L"npercent_txt_up", 0};

// What the window offers the update flow. Until Show() the window may exist
// only as data: the no-update path never creates a real window.
class FormView {
public:
    virtual ~FormView() = default;
    // The window handle, or 0 while no real window exists yet.
    virtual std::uintptr_t Handle() = 0;
    virtual void SetBackColor(ControlRef control, std::uint32_t colour) = 0;
    virtual void SetBorderColor(ControlRef control, std::uint32_t colour) = 0;
    virtual void ClearList() = 0;
    virtual void AddListLine(const std::wstring& line) = 0;
    virtual int ListCount() = 0;
    virtual float Left(ControlRef control) = 0;
    virtual float Width(ControlRef control) = 0;
    virtual void SetLeft(ControlRef control, float twips) = 0;
    virtual void SetWidth(ControlRef control, float twips) = 0;
    virtual void SetVisible(ControlRef control, bool visible) = 0;
    virtual void SetCaption(ControlRef control, const std::wstring& caption) = 0;
    // Makes the window visible (creating the real window when needed).
    virtual void Show() = 0;
    // Repaints what changed and reads the window's waiting messages; called
    // during long work on the one UI thread, whose input then does nothing.
    // Paints and reads at most about 30 times a second: calls in between
    // return at once, and what they left unpainted waits for the next.
    virtual void Refresh() = 0;
    // Paints now whatever changed, as before a message that ends the work.
    virtual void Paint() {}
    // Destroys the window; the program ends when no window is left.
    virtual void Unload() = 0;
};

// Everything the window's logic reaches the machine through.
struct Platform {
    Files& files;
    Process& process;
    Dialogs& dialogs;
    Registry& registry;
    FormView& view;
    // Decodes text in the system's ANSI code page.
    AnsiDecoder decodeAnsi;
    // Creates the SpecialFolder object on first use of Form1::Special_Folder.
    std::function<std::unique_ptr<SpecialFolder>()> makeSpecialFolder;
    Elevation& elevation;
    // What guards the application folder, looked at before asking for rights.
    Guards& guards;
};

}  // namespace tessaloom
