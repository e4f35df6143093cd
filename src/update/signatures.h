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

#include "core/signatures.h"
#include "update/transaction.h"

namespace tessaloom {

// True for a name of a file Windows runs or loads as code (.exe, .dll and
// their kin), in any case.
bool IsProgramFile(std::wstring_view name);

// Nothing when the new file of `name` may replace `current` (nothing: no
// current file) in an install that is signed or not; otherwise why not.
//  - A signed current file is replaced only by a new file with a valid
//    signature of the same signer.
//  - In a signed install, a new program file with no current file needs a
//    valid signature: a DLL the main program would load is what a planted
//    update would add.
//  - Anything else is installed as it is.
std::optional<std::wstring> SignatureRefusal(std::wstring_view name, const std::optional<SignedFile>& current,
                                             const SignedFile& fresh, bool installSigned);

// The elevated instance's check of each new file before it is copied into
// `applicationFolder`, by SignatureRefusal: the install counts as signed
// when the updater itself (`updaterPath`) is, which is asked once, when a
// file first needs it. A refusal throws kErrSignatureRefused, which is never
// waited out like a lock, and the update is undone.
SourceCheck SignatureCheck(Signatures& signatures, std::wstring applicationFolder, std::wstring updaterPath);

}  // namespace tessaloom
