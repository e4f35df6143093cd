#include "update/signatures.h"

#include <array>
#include <memory>

#include "core/error.h"
#include "core/text.h"

#include "update/file_names.h"

namespace tessaloom {

bool IsProgramFile(std::wstring_view name) {
    static constexpr std::array<std::wstring_view, 7> kExtensions = {L".EXE", L".DLL", L".OCX", L".CPL",
                                                                     L".SCR", L".SYS", L".DRV"};
    const std::wstring folded = FoldedName(name);
    for (const std::wstring_view extension : kExtensions) {
        if (folded.ends_with(extension)) {
            return true;
        }
    }
    return false;
}

std::optional<std::wstring> SignatureRefusal(std::wstring_view name, const std::optional<SignedFile>& current,
                                             const SignedFile& fresh, bool installSigned) {
    const std::wstring file(name);
    const bool needed =
        (current && current->signature != Signature::None) || (!current && installSigned && IsProgramFile(name));
    if (!needed) {
        return std::nullopt;
    }
    if (fresh.signature == Signature::None) {
        return L"the new " + file + L" is not signed";
    }
    if (fresh.signature == Signature::Broken) {
        return L"the signature of the new " + file + L" does not hold";
    }
    if (current && current->signature != Signature::None &&
        (current->signer.empty() || fresh.signer != current->signer)) {
        return L"the new " + file + L" is not signed by the signer of the file it replaces";
    }
    return std::nullopt;
}

SourceCheck SignatureCheck(Signatures& signatures, std::wstring applicationFolder, std::wstring updaterPath) {
    auto installSigned = std::make_shared<std::optional<bool>>();
    return [&signatures, app = std::move(applicationFolder), updater = std::move(updaterPath), installSigned](
               SourceFile& source, const UpdateEntry& entry) {
        const auto install = [&] {
            if (!installSigned->has_value()) {
                *installSigned = signatures.OfInstalled(updater).signature != Signature::None;
            }
            return **installSigned;
        };
        const std::wstring destination = Join(app, entry.name);
        std::optional<SignedFile> current;
        if (entry.current.exists) {
            current = signatures.OfInstalled(destination);
        }
        const SignedFile fresh = signatures.OfOpen(source, destination);
        // Asked only where it can matter: a new program file with no current file.
        const bool signedInstall = !current && IsProgramFile(entry.name) && install();
        if (const auto refusal = SignatureRefusal(entry.name, current, fresh, signedInstall)) {
            throw RuntimeError(kErrSignatureRefused, L"The signature check refused the update: " + *refusal);
        }
    };
}

}  // namespace tessaloom
