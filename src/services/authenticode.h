#pragma once
// Authenticode signatures through WinVerifyTrust (wintrust.dll, loaded at run
// time from System32), read through a handle that keeps writers out, so what
// is checked is what stays there.

#include <windows.h>

#include <string>

#include "core/seams.h"

namespace tessaloom {

// The signature of an open file and its signer's certificate. `path` names
// the file for the system. Throws when wintrust.dll cannot be had.
SignedFile InspectSignature(HANDLE file, const std::wstring& path);

class Win32Signatures final : public Signatures {
public:
    SignedFile OfStaged(const std::wstring& staged, const std::wstring& destination) override;
    SignedFile OfInstalled(const std::wstring& path) override;
};

}  // namespace tessaloom
