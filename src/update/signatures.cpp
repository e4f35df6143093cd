#include "update/signatures.h"

#include <algorithm>
#include <array>
#include <memory>

#include "core/error.h"
#include "core/text.h"

#include "update/file_names.h"

namespace tessaloom {

bool IsProgramFile(std::wstring_view name) {
    static constexpr std::array<std::wstring_view, 26> kExtensions = {
        L".EXE", L".DLL", L".COM", L".SCR", L".CPL",  L".OCX",      L".AX",     L".ACM",  L".SYS",
        L".DRV", L".MSI", L".MSP", L".PS1", L".PSM1", L".BAT",      L".CMD",    L".VBS",  L".VBE",
        L".JS",  L".JSE", L".WSF", L".HTA", L".LNK",  L".MANIFEST", L".CONFIG", L".LOCAL"};
    const std::wstring folded = FoldedName(name);
    return std::any_of(kExtensions.begin(), kExtensions.end(),
                       [&](std::wstring_view extension) { return folded.ends_with(extension); });
}

std::optional<std::wstring> SignatureRefusal(std::wstring_view name, const std::optional<SignedFile>& current,
                                             const SignedFile& fresh, const SignedFile& updater) {
    const std::wstring file(name);
    if (fresh.signature == Signature::Uncheckable) {
        return L"the signature of the new " + file + L" cannot be checked";
    }
    if (current && current->signature == Signature::Uncheckable) {
        return L"the signature of the current " + file + L" cannot be checked";
    }
    const bool currentSigned = current && current->signature != Signature::None;
    if (updater.signature == Signature::None) {
        // An unsigned install: only a signed current file is held to its signer.
        if (!currentSigned) {
            return std::nullopt;
        }
        if (fresh.signature == Signature::None) {
            return L"the new " + file + L" is not signed";
        }
        if (fresh.signature == Signature::Broken) {
            return L"the signature of the new " + file + L" does not hold";
        }
        if (current->signer.empty() || fresh.signer != current->signer) {
            return L"the new " + file + L" is not signed by the signer of the file it replaces";
        }
        return std::nullopt;
    }
    if (fresh.signature == Signature::Broken) {
        return L"the signature of the new " + file + L" does not hold";
    }
    if (currentSigned && current->signature == Signature::Broken) {
        return L"the signature of the current " + file + L" does not hold";
    }
    const bool program = IsProgramFile(name) || fresh.image || (current && current->image);
    if (!program && !currentSigned) {
        return std::nullopt;
    }
    if (fresh.signature == Signature::None) {
        return L"the new " + file + L" is not signed";
    }
    // Signers whose signature holds: the updater's, and the current file's.
    const auto signedBy = [&](const SignedFile& by) {
        return by.signature == Signature::Valid && !by.signer.empty() && fresh.signer == by.signer;
    };
    if (signedBy(updater) || (currentSigned && signedBy(*current))) {
        return std::nullopt;
    }
    return L"the new " + file +
           (currentSigned ? L" is signed neither by the updater's signer nor by the signer of the file it replaces"
                          : L" is not signed by the updater's signer");
}

StagedCheck SignatureCheck(Signatures& signatures, std::wstring applicationFolder, std::wstring updaterPath) {
    auto updater = std::make_shared<std::optional<SignedFile>>();
    return [&signatures, app = std::move(applicationFolder), updaterPath = std::move(updaterPath), updater](
               const std::wstring& staged, const UpdateEntry& entry) {
        if (!updater->has_value()) {
            *updater = signatures.OfInstalled(updaterPath);
        }
        const std::wstring destination = Join(app, entry.name);
        std::optional<SignedFile> current;
        if (entry.current.exists) {
            current = signatures.OfInstalled(destination);
        }
        const SignedFile fresh = signatures.OfStaged(staged, destination);
        if (const auto refusal = SignatureRefusal(entry.name, current, fresh, **updater)) {
            throw RuntimeError(kErrSignatureRefused, L"The signature check refused the update: " + *refusal);
        }
    };
}

}  // namespace tessaloom
