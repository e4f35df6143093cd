#pragma once
// The journal of an update, "TessaloomUpdate.journal" in the application
// folder: what each destination held before the update and what its new file
// holds, and how far the update got. UTF-8 text:
//   TessaloomUpdate journal 3
//   phase C                S: staging, C: committing, U: undoing a commit, T: tidying a complete one
//   CB 1234 9f2c01ab 880 133452340000000000 870 133452300000000000 sub\name.dll
//   end
// An entry's first two characters say whether a current file ("C") and an
// earlier backup ("B") were there; "X" in the first marks a new file that
// vanished before it was staged. Then the new file's size and digest, the
// current file's size and time, the earlier backup's size and time, and the
// name. Every field keeps its width from the first writing to the last, so
// the journal is only ever rewritten in place. Versions 1 and 2 had no
// digest but the new file's time; version 1 kept nothing of the current file
// or the backup.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaloom {

// What stood at a path when the update was planned.
struct RecordedFile {
    bool exists = false;
    std::uint64_t size = 0;
    std::uint64_t modified = 0;
};

// Two modification times of the same content on different volumes differ by
// the coarser volume's resolution: FAT keeps 2 s (some drivers 1 s), exFAT
// 10 ms, NTFS 100 ns. In 100 ns units.
inline constexpr std::uint64_t kTimeTolerance = 20'000'000;

// One destination of an update and what stood there before it.
struct UpdateEntry {
    std::wstring name;       // relative to both folders, as first listed
    std::uint64_t size = 0;  // of the new file
    std::uint64_t modified = 0;
    std::uint32_t digest = 0;  // of the new file's content, once staged
    RecordedFile current;      // the file the new one replaces
    RecordedFile backup;       // the earlier backup that steps aside (only with a current file)
    bool recorded = true;      // false for a journal of version 1, which kept no facts
    bool digested = true;      // false for a journal before version 3: the new file is known by its time
    bool vanished = false;     // its new file disappeared before it was staged
};

enum class Phase : char { Staging = 'S', Committing = 'C', Undoing = 'U', Tidying = 'T' };

struct Journal {
    Phase phase = Phase::Staging;
    std::vector<UpdateEntry> entries;
};

// Where the phase stands in the journal, and where the entries begin.
inline constexpr std::size_t kPhaseOffset = 33;
inline constexpr std::size_t kEntriesOffset = kPhaseOffset + 3;

std::string FormatJournal(const Journal& journal);
// Nothing unless the whole text reads as a journal: one cut short, garbled or
// naming anything outside the folder is never acted on.
std::optional<Journal> ParseJournal(std::string_view text);

}  // namespace tessaloom
