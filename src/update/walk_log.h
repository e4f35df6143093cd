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
    // The heading: when, which updater, which folders. Lines noted before it
    // (what the start-up found) follow it.
    void Begin(const std::wstring& time, const std::wstring& version, const std::wstring& applicationFolder,
               const std::wstring& updateFolder);
    void Did(Step step, const std::wstring& name) override;
    void Retrying(const std::wstring& path, const RuntimeError& error, int pauseMilliseconds) override;
    void Note(const std::wstring& line);
    // The error that ended the walk.
    void Failed(const RuntimeError& error);
    [[nodiscard]] bool Begun() const { return !heading_.empty(); }

    // UTF-8 with a byte-order mark (so every Notepad reads it as UTF-8), lines
    // ending in CR LF.
    [[nodiscard]] std::string Text() const;
    // Keeps the previous log as TessaloomUpdate.log.1 and writes this one in
    // `folder`. Never throws: the log never makes an update fail.
    void Write(Files& files, const std::wstring& folder) const noexcept;

private:
    std::vector<std::wstring> heading_;
    std::vector<std::wstring> lines_;
};

}  // namespace tessaloom
