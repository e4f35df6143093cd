#pragma once
// What applying does, step by step, told to whoever keeps a record of it
// (the walk's log, or the window an elevated instance reports to).

#include <string>

#include "core/error.h"

namespace tessaloom {

// Called as each step is done; a sink that throws fails the update, which is undone.
class UpdateEvents {
public:
    enum class Step {
        Absent,            // listed, but its new file is not in the update folder
        ListedTwice,       // its destination was listed before: applied once
        Identical,         // the current file already holds the new bytes: left alone
        Staged,            // the new file is copied beside its destination
        Vanished,          // the new file disappeared before it was copied: skipped
        BackedUp,          // the current file became its backup ("OLD" + name)
        Replaced,          // the new file took the destination's name
        Recovering,        // an interrupted update was found (name: the journal)
        RecoveryFinished,  // ... and its commit was completed
        RecoveryUndone,    // ... and it was undone
        RolledBack,        // a failure: every change of this walk was undone
        RollBackLeft,      // a failure: undoing failed too, the journal stays for the next start
        Abandoned,         // the destination changed since the interruption: left as it is now
        JournalDamaged,    // the journal cannot be trusted: kept, nothing done (name: the journal)
        TidyingLeft,       // a complete update left something to tidy: tried again at the next start
    };
    // The last step: what crosses from the elevated instance to the window
    // is checked against it at both ends.
    static constexpr Step kLastStep = Step::TidyingLeft;

    virtual ~UpdateEvents() = default;
    // A step done for a name relative to the folders (or a path, where said).
    virtual void Did(Step step, const std::wstring& name) = 0;
    // A transient failure on `path`, tried again after `pauseMilliseconds`.
    virtual void Retrying(const std::wstring& path, const RuntimeError& error, int pauseMilliseconds) = 0;
};

}  // namespace tessaloom
