#include "services/authenticode.h"

#include <softpub.h>
#include <wintrust.h>

#include "core/error.h"
#include "services/files.h"
#include "win32/system_modules.h"
#include "win32/win32_error.h"

namespace tessaloom {
namespace {

struct Wintrust {
    decltype(&WinVerifyTrust) verify = nullptr;
    decltype(&WTHelperProvDataFromStateData) providerData = nullptr;
    decltype(&WTHelperGetProvSignerFromChain) signer = nullptr;
};

const Wintrust& Library() {
    static const Wintrust functions = [] {
        Wintrust found;
        HMODULE module = LoadSystemModule(L"wintrust.dll");
        Bind(found.verify, module, "WinVerifyTrust");
        Bind(found.providerData, module, "WTHelperProvDataFromStateData");
        Bind(found.signer, module, "WTHelperGetProvSignerFromChain");
        return found;
    }();
    return functions;
}

// What WinVerifyTrust's answer says of the file itself.
Signature SignatureOf(LONG status) {
    switch (status) {
    case ERROR_SUCCESS:
        return Signature::Valid;
    case TRUST_E_NOSIGNATURE:
    case TRUST_E_SUBJECT_FORM_UNKNOWN:
    case TRUST_E_PROVIDER_UNKNOWN:
        return Signature::None;
    default:
        return Signature::Broken;
    }
}

}  // namespace

SignedFile InspectSignature(HANDLE file, const std::wstring& path) {
    const Wintrust& wintrust = Library();
    if (wintrust.verify == nullptr || wintrust.providerData == nullptr || wintrust.signer == nullptr) {
        throw RuntimeError(kErrInternal, L"Internal error: signatures cannot be checked on this system");
    }
    WINTRUST_FILE_INFO info{};
    info.cbStruct = sizeof info;
    info.pcwszFilePath = path.c_str();
    info.hFile = file;
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &info;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const auto noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
    SignedFile result;
    result.signature = SignatureOf(wintrust.verify(noWindow, &action, &data));
    if (data.hWVTStateData != nullptr) {
        CRYPT_PROVIDER_DATA* provider = wintrust.providerData(data.hWVTStateData);
        CRYPT_PROVIDER_SGNR* signer = provider != nullptr ? wintrust.signer(provider, 0, FALSE, 0) : nullptr;
        if (signer != nullptr && signer->csCertChain > 0 && signer->pasCertChain != nullptr &&
            signer->pasCertChain[0].pCert != nullptr) {
            const CERT_CONTEXT* certificate = signer->pasCertChain[0].pCert;
            result.signer.assign(reinterpret_cast<const char*>(certificate->pbCertEncoded), certificate->cbCertEncoded);
        }
        data.dwStateAction = WTD_STATEACTION_CLOSE;
        wintrust.verify(noWindow, &action, &data);
    }
    return result;
}

SignedFile Win32Signatures::OfOpen(SourceFile& file, const std::wstring& path) {
    auto* const open = dynamic_cast<Win32SourceFile*>(&file);
    if (open == nullptr) {
        throw RuntimeError(kErrInternal, L"Internal error: a file to check is not an open file");
    }
    return InspectSignature(open->Handle(), path);
}

SignedFile Win32Signatures::OfInstalled(const std::wstring& path) {
    const UniqueFile file = OpenToRead(path);
    return InspectSignature(file.Get(), path);
}

}  // namespace tessaloom
