#include "services/authenticode.h"

#include <softpub.h>
#include <wintrust.h>
#include <mscat.h>

#include <optional>
#include <vector>

#include "core/error.h"
#include "core/text.h"
#include "services/files.h"
#include "win32/system_modules.h"
#include "win32/win32_error.h"

namespace tessaloom {
namespace {

struct Wintrust {
    decltype(&WinVerifyTrust) verify = nullptr;
    decltype(&WTHelperProvDataFromStateData) providerData = nullptr;
    decltype(&WTHelperGetProvSignerFromChain) signer = nullptr;
    // Catalogs; the SHA-256 ones of Windows 8 and later.
    decltype(&CryptCATAdminAcquireContext) acquire = nullptr;
    decltype(&CryptCATAdminAcquireContext2) acquire2 = nullptr;
    decltype(&CryptCATAdminCalcHashFromFileHandle) hash = nullptr;
    decltype(&CryptCATAdminCalcHashFromFileHandle2) hash2 = nullptr;
    decltype(&CryptCATAdminEnumCatalogFromHash) findCatalog = nullptr;
    decltype(&CryptCATCatalogInfoFromContext) catalogInfo = nullptr;
    decltype(&CryptCATAdminReleaseCatalogContext) releaseCatalog = nullptr;
    decltype(&CryptCATAdminReleaseContext) release = nullptr;
};

const Wintrust& Library() {
    static const Wintrust functions = [] {
        Wintrust found;
        HMODULE module = LoadSystemModule(L"wintrust.dll");
        Bind(found.verify, module, "WinVerifyTrust");
        Bind(found.providerData, module, "WTHelperProvDataFromStateData");
        Bind(found.signer, module, "WTHelperGetProvSignerFromChain");
        Bind(found.acquire, module, "CryptCATAdminAcquireContext");
        Bind(found.acquire2, module, "CryptCATAdminAcquireContext2");
        Bind(found.hash, module, "CryptCATAdminCalcHashFromFileHandle");
        Bind(found.hash2, module, "CryptCATAdminCalcHashFromFileHandle2");
        Bind(found.findCatalog, module, "CryptCATAdminEnumCatalogFromHash");
        Bind(found.catalogInfo, module, "CryptCATCatalogInfoFromContext");
        Bind(found.releaseCatalog, module, "CryptCATAdminReleaseCatalogContext");
        Bind(found.release, module, "CryptCATAdminReleaseContext");
        return found;
    }();
    return functions;
}

// What WinVerifyTrust's answer says of the file: not signed, a signature
// that does not hold (the answers of the certificate checks and of the
// digest), or a check that could not be made (anything else), which never
// counts as either.
Signature SignatureOf(LONG status) {
    switch (status) {
    case ERROR_SUCCESS:
        return Signature::Valid;
    case TRUST_E_NOSIGNATURE:
    case TRUST_E_SUBJECT_FORM_UNKNOWN:
    case TRUST_E_PROVIDER_UNKNOWN:
        return Signature::None;
    case TRUST_E_ACTION_UNKNOWN:
        return Signature::Uncheckable;
    case TRUST_E_BAD_DIGEST:
    case TRUST_E_CERT_SIGNATURE:
    case TRUST_E_NO_SIGNER_CERT:
    case TRUST_E_COUNTER_SIGNER:
    case TRUST_E_TIME_STAMP:
    case TRUST_E_BASIC_CONSTRAINTS:
    case TRUST_E_FINANCIAL_CRITERIA:
    case CRYPT_E_HASH_VALUE:
    case CRYPT_E_SECURITY_SETTINGS:
        return Signature::Broken;
    default:
        return HRESULT_FACILITY(status) == FACILITY_CERT ? Signature::Broken : Signature::Uncheckable;
    }
}

// Runs WinVerifyTrust on what `data` names and reads the signer it found.
SignedFile Verify(const Wintrust& wintrust, WINTRUST_DATA& data) {
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
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

// A catalog member as Windows 8 and later read it, with the catalog context
// that says which hash it holds; older systems read what comes before it.
struct CatalogMember : WINTRUST_CATALOG_INFO {
    HCATADMIN hCatAdmin = nullptr;
};

// The file's signature by a catalog of the system that lists its hash
// (SHA-256 where the system has it, then SHA-1); nothing when none does.
std::optional<SignedFile> ByCatalog(const Wintrust& wintrust, HANDLE file, const std::wstring& path) {
    if (wintrust.hash == nullptr || wintrust.findCatalog == nullptr || wintrust.catalogInfo == nullptr ||
        wintrust.releaseCatalog == nullptr || wintrust.release == nullptr) {
        return std::nullopt;
    }
    for (const bool sha256 : {true, false}) {
        HCATADMIN admin = nullptr;
        const bool acquired = sha256 ? wintrust.acquire2 != nullptr && wintrust.hash2 != nullptr &&
                                           wintrust.acquire2(&admin, nullptr, L"SHA256", nullptr, 0)
                                     : wintrust.acquire != nullptr && wintrust.acquire(&admin, nullptr, 0);
        if (!acquired) {
            continue;
        }
        std::vector<BYTE> hash(64);
        auto size = static_cast<DWORD>(hash.size());
        const bool hashed =
            sha256 ? wintrust.hash2(admin, file, &size, hash.data(), 0) : wintrust.hash(file, &size, hash.data(), 0);
        HCATINFO found = hashed ? wintrust.findCatalog(admin, hash.data(), size, 0, nullptr) : nullptr;
        std::optional<SignedFile> result;
        CATALOG_INFO catalog{};
        catalog.cbStruct = sizeof catalog;
        if (found != nullptr && wintrust.catalogInfo(found, &catalog, 0)) {
            std::wstring tag;
            for (DWORD i = 0; i < size; ++i) {
                tag += HexText(hash[i], 2);
            }
            CatalogMember member{};
            member.cbStruct = sha256 ? sizeof member : sizeof(WINTRUST_CATALOG_INFO);
            member.pcwszCatalogFilePath = catalog.wszCatalogFile;
            member.pcwszMemberTag = tag.c_str();
            member.pcwszMemberFilePath = path.c_str();
            member.hMemberFile = file;
            member.pbCalculatedFileHash = hash.data();
            member.cbCalculatedFileHash = size;
            member.hCatAdmin = admin;
            WINTRUST_DATA data{};
            data.dwUnionChoice = WTD_CHOICE_CATALOG;
            data.pCatalog = &member;
            result = Verify(wintrust, data);
        }
        if (found != nullptr) {
            wintrust.releaseCatalog(admin, found, 0);
        }
        wintrust.release(admin, 0);
        if (result) {
            return result;
        }
    }
    return std::nullopt;
}

// True when the file begins with "MZ", as every program Windows loads does.
std::optional<bool> StartsWithMz(HANDLE file) {
    OVERLAPPED start{};
    char bytes[2] = {};
    DWORD read = 0;
    if (!ReadFile(file, bytes, sizeof bytes, &read, &start)) {
        return GetLastError() == ERROR_HANDLE_EOF ? std::optional(false) : std::nullopt;
    }
    return read == 2 && bytes[0] == 'M' && bytes[1] == 'Z';
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
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &info;
    SignedFile result = Verify(wintrust, data);
    if (result.signature == Signature::None) {
        result = ByCatalog(wintrust, file, path).value_or(result);
    }
    const std::optional<bool> image = StartsWithMz(file);
    result.image = image.value_or(false);
    if (!image) {
        result.signature = Signature::Uncheckable;
    }
    return result;
}

SignedFile Win32Signatures::OfStaged(const std::wstring& staged, const std::wstring& destination) {
    const UniqueFile file = OpenToRead(staged);
    return InspectSignature(file.Get(), destination);
}

SignedFile Win32Signatures::OfInstalled(const std::wstring& path) {
    const UniqueFile file = OpenToRead(path);
    return InspectSignature(file.Get(), path);
}

}  // namespace tessaloom
