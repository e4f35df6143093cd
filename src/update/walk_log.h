#pragma once
// The record of one walk, for support: kept in memory while the walk runs and
// written once at its end beside the update list, the previous one kept.

#include <string>
#include <vector>

#include "core/error.h"
#include "core/seams.h"
#include "update/transaction.h"

namespace tessaloom {

inline constexpr wchar_t kLogName[] = L"TessaloomUpdate.log";
inline constexpr wchar_t kPreviousLogSuffix[] = L".1";

class WalkLog final : public UpdateEvents {
public:
    // The heading: when, which updater, which folders. Lines noted before the
    // first walk (what the start-up found) follow it; a later walk in the
    // same window starts a log of its own.
    void Begin(const std::wstring& time, const std::wstring& version, const std::wstring& applicationFolder,
               const std::wstring& updateFolder);
    void Did(Step step, const std::wstring& name) override;
    void Retrying(const std::wstring& path, const RuntimeError& error, int pauseMilliseconds) override;
    void Note(const std::wstring& line);
    // The error that ended the walk.
    void Failed(const RuntimeError& error);
    [[nodiscard]] bool Begun() const { return !heading_.empty(); }
    // True once this walk's log has been written.
    [[nodiscard]] bool Written() const { return written_; }

    // UTF-8 with a byte-order mark (so every Notepad reads it as UTF-8), lines
    // ending in CR LF.
    [[nodiscard]] std::string Text() const;
    // Keeps the previous walk's log as TessaloomUpdate.log.1 and writes this
    // one in `folder`; written again in the same walk, it replaces itself.
    // Never throws: the log never makes an update fail.
    void Write(Files& files, const std::wstring& folder) noexcept;

private:
    std::vector<std::wstring> heading_;
    std::vector<std::wstring> lines_;
    bool written_ = false;
};

}  // namespace tessaloom
