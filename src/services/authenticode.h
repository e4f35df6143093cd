#pragma once
// Authenticode signatures through WinVerifyTrust (wintrust.dll, loaded at run
// time from System32), read through an open handle, so what is checked is
// what is then copied.

#include <windows.h>

#include <string>

#include "core/signatures.h"

namespace tessaloom {

// The signature of an open file and its signer's certificate. `path` names
// the file for the system. Throws when wintrust.dll cannot be had.
SignedFile InspectSignature(HANDLE file, const std::wstring& path);

class Win32Signatures final : public Signatures {
public:
    SignedFile OfOpen(SourceFile& file, const std::wstring& path) override;
    SignedFile OfInstalled(const std::wstring& path) override;
};

}  // namespace tessaloom
