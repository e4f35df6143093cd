#pragma once
// Form1: the updater's one window and the logic of an update run, from
// start-up to close. It reaches the machine only through Platform.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/seams.h"
#include "core/error.h"
#include "update/walk_log.h"

namespace tessaloom {

// The application title: the caption of the run-time error box.
inline constexpr wchar_t kAppTitle[] = L"Setup";

class Form1 {
public:
    explicit Form1(Platform platform) : p_(std::move(platform)) {}

    // Runs the load event and shows the window when it is still loaded.
    void Load();
    // The window's events, each a boundary: an error that reaches it is shown
    // in the run-time error box and ends the program.
    void Command1_Click();
    void Command2_Click();
    // False once the window is unloaded or an error has ended the program.
    [[nodiscard]] bool Running() const { return loaded_ && !ended_; }

    // Public operations of the window.
    SpecialFolder& Special_Folder();
    void Special_Folder(std::unique_ptr<SpecialFolder> folder);
    std::wstring CreateNewforder(std::int32_t SpecialDirectoriesname);
    void CheckforUpdates();
    void CheckforUpdatesOk();
    bool LoadFilesUpdates(const std::wstring& file, std::vector<std::wstring>& FileCollection,
                          std::wstring& NetWorkPath);
    void TraiteCommande();

    // Theme colours.
    std::uint32_t fonceid = 0;
    std::uint32_t clairid = 0;
    std::uint32_t moyenid = 0;

    // State of the run.
    std::wstring UpdatePath;
    std::wstring TargetCommand;
    std::vector<std::wstring> PendingFiles;

private:
    void Form_Load();
    void Walk();
    void ShowApplied(int position, const std::wstring& name);
    bool FinishInterruptedUpdate(const std::wstring& app);
    bool CanWrite(const std::wstring& app);
    bool ClaimFolder();
    bool RefusedElevation(const std::wstring& app, const std::vector<std::wstring>& names, const std::wstring& what);
    std::wstring UpdateFolder();
    void ApplyTheme();
    void LaunchTargetAndClose();
    template <typename Handler>
    void Boundary(Handler handler);
    template <typename Handler>
    void Click(Handler handler);

    Platform p_;
    std::unique_ptr<SpecialFolder> FolderService;
    WalkLog log_;                   // what the start-up and a walk did, written when the walk ends
    std::optional<bool> writable_;  // whether this user may change the application folder, once asked
    bool loaded_ = true;
    bool ended_ = false;
    bool clickRunning_ = false;  // a button's work is under way
};

}  // namespace tessaloom
