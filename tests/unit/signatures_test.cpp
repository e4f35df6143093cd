// Which new files an elevated update installs, by their signatures: one
// table over current file, new file, signer and install.

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "update/signatures.h"

namespace tessaloom::test {
namespace {

const SignedFile kUnsigned{Signature::None, ""};
const SignedFile kByA{Signature::Valid, "certificate A"};
const SignedFile kByB{Signature::Valid, "certificate B"};
const SignedFile kBrokenA{Signature::Broken, "certificate A"};
const SignedFile kSignedUnknown{Signature::Valid, ""};

TEST(Signatures, ASignedFileIsReplacedOnlyByTheSameSignerAndASignedInstallTakesNoUnsignedCode) {
    struct Case {
        const wchar_t* name;
        std::optional<SignedFile> current;
        SignedFile fresh;
        bool installSigned;
        bool installed;
    };
    const std::vector<Case> cases = {
        // Unsigned current files and unsigned installs: as without the check.
        {L"a.dll", kUnsigned, kUnsigned, false, true},
        {L"a.dll", kUnsigned, kBrokenA, false, true},
        {L"a.dll", std::nullopt, kUnsigned, false, true},
        {L"a.dll", kUnsigned, kUnsigned, true, true},  // an unsigned file stays replaceable
        // A signed current file: the same signer, with a signature that holds.
        {L"a.dll", kByA, kByA, false, true},
        {L"a.dll", kByA, kByA, true, true},
        {L"a.dll", kByA, kByB, false, false},
        {L"a.dll", kByA, kUnsigned, false, false},
        {L"a.dll", kByA, kBrokenA, false, false},
        {L"data.txt", kByA, kUnsigned, false, false},  // whatever its name
        {L"a.dll", kBrokenA, kByA, false, true},       // its signer is still known
        {L"a.dll", kBrokenA, kByB, false, false},
        {L"a.dll", SignedFile{Signature::Broken, ""}, kByA, false, false},  // signer unknown: no match
        {L"a.dll", kSignedUnknown, kSignedUnknown, false, false},
        // A signed install: new code needs a signature that holds, any signer.
        {L"new.dll", std::nullopt, kUnsigned, true, false},
        {L"sub\\New.EXE", std::nullopt, kUnsigned, true, false},
        {L"x.ocx", std::nullopt, kUnsigned, true, false},
        {L"new.dll", std::nullopt, kBrokenA, true, false},
        {L"new.dll", std::nullopt, kByB, true, true},
        {L"readme.txt", std::nullopt, kUnsigned, true, true},
        {L"dll", std::nullopt, kUnsigned, true, true},
        {L"new.dll.txt", std::nullopt, kUnsigned, true, true},
    };
    for (const Case& c : cases) {
        const auto refusal = SignatureRefusal(c.name, c.current, c.fresh, c.installSigned);
        EXPECT_EQ(!refusal.has_value(), c.installed)
            << std::string(c.name, c.name + std::wcslen(c.name)) << " current "
            << (c.current ? static_cast<int>(c.current->signature) : -1) << " new "
            << static_cast<int>(c.fresh.signature) << " signed install " << c.installSigned;
    }
}

}  // namespace
}  // namespace tessaloom::test
