#pragma once
// Which new files an elevated update may install, by their Authenticode
// signatures. The instance with administrator rights copies files that any
// process of the user could have put in the update folder: where the install
// is signed, what it installs must come from the same publisher. (Without
// administrator rights nothing is checked: the user could copy the files by
// hand anyway.)

#include <optional>
#include <string>
#include <string_view>

#include "core/seams.h"
#include "update/transaction.h"

namespace tessaloom {

// True for a name of a file that is a program or steers one: what Windows
// runs or loads as code, installer packages, scripts, shortcuts, and the
// manifests, configuration and redirection files that decide what a program
// loads; in any case.
bool IsProgramFile(std::wstring_view name);

// Nothing when the new file of `name` may replace `current` (nothing: no
// current file); otherwise why not. `updater` is the updater's own signature:
// an install is signed when the updater is.
//  - A signature that cannot be checked, of the new or the current file,
//    refuses: it never lets a file through.
//  - In a signed install, a file that is a program (by its name, or because
//    the new or the current file begins with "MZ"), or whose current file is
//    signed, needs a valid signature of the updater's signer or of the current
//    file's signer; an unsigned current program file, or none, is replaced
//    only by a file of the updater's signer. A broken signature refuses.
//  - In an unsigned install, a signed current file is replaced only by a new
//    file with a valid signature of the same signer.
//  - Anything else is installed as it is.
std::optional<std::wstring> SignatureRefusal(std::wstring_view name, const std::optional<SignedFile>& current,
                                             const SignedFile& fresh, const SignedFile& updater);

// The elevated instance's check of each new file once it is staged in
// `applicationFolder`, by SignatureRefusal of the staged copy, with the signature of the updater
// itself (`updaterPath`), which is asked once. A refusal throws
// kErrSignatureRefused, which is never waited out like a lock, and the update
// is undone.
StagedCheck SignatureCheck(Signatures& signatures, std::wstring applicationFolder, std::wstring updaterPath);

}  // namespace tessaloom
