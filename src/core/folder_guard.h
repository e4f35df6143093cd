#pragma once
// What guards an entry of the file system, as the checks before an update
// with administrator rights see it: its owner, its access list, whether it is
// a reparse point; and the seam that reads them.

#include <cstdint>
#include <string>
#include <vector>

namespace tessaloom {

// One entry of an access list (DACL).
struct AccessEntry {
    enum class Kind {
        Allow,
        Deny,
        Other,  // a kind of entry these checks do not read: taken as allowing anyone
    };
    Kind kind = Kind::Allow;
    bool inheritOnly = false;  // applies only to what is created inside, not to the entry itself
    std::wstring sid;          // the trustee, as text ("S-1-5-32-544")
    std::uint32_t mask = 0;    // the rights, generic ones as they stand
};

struct Guard {
    bool found = false;  // something is at the path
    bool folder = false;
    bool reparsePoint = false;  // a junction, symbolic link, mount point or other reparse point
    std::wstring owner;         // the owner's SID, as text
    bool hasDacl = true;        // false: no access list at all, so anyone may do anything
    std::vector<AccessEntry> dacl;
};

// Reads what guards entries of the file system.
class Guards {
public:
    virtual ~Guards() = default;
    // The folder at `path`, opened without following a reparse point, with its
    // owner and access list; nothing found when nothing is there. A folder
    // found stays open, so that it can be neither renamed nor removed, for as
    // long as this object lives. Throws when it cannot be looked at.
    virtual Guard Folder(const std::wstring& path) = 0;
    // True when the entry at `path` is itself a reparse point; false when it
    // is not, or nothing is there. Throws when it cannot be looked at.
    virtual bool IsReparsePoint(const std::wstring& path) = 0;
};

}  // namespace tessaloom
