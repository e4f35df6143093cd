#pragma once
// Authenticode signatures as the update flow sees them: what a file's
// signature says and who signed it, and the seam that reads them.

#include <string>

namespace tessaloom {

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

}  // namespace tessaloom
