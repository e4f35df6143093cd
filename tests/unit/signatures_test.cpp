// Which new files an elevated update installs, by their signatures: one
// table over current file, new file, signer and install.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "core/text.h"
#include "fakes.h"
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

// A refusal is a decision about the file: reported once, with its own error,
// and never waited out like a lock (a lock on the current file still is).
TEST(Signatures, ARefusalIsReportedOnceWithItsOwnErrorAndNeverWaitedOut) {
    for (const int locks : {0, 1}) {
        SCOPED_TRACE(locks);
        FakeMachine machine;
        machine.List("path\r\nlib.dll\r\n");
        machine.NewFile(L"lib.dll", "unsigned");
        machine.AppFile(L"lib.dll", "signed by A");
        FakeSignatures signatures(machine.files);
        signatures.installed[L"C:\\App\\lib.dll"] = kByA;
        machine.elevation.writable = false;
        machine.elevation.check = SignatureCheck(signatures, L"C:\\App", L"C:\\App\\TessaloomUpdate.exe");
        machine.files.locked[L"C:\\App\\lib.dll"] = locks;
        machine.form.Load();
        machine.form.Command1_Click();

        const Journal& journal = machine.journal;
        EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                                [](const std::wstring& line) { return line.starts_with(L"error "); }),
                  1);
        EXPECT_THAT(journal.back(), ::testing::HasSubstr(L"Run-time error '577'"));
        EXPECT_THAT(journal.back(), ::testing::HasSubstr(L"the new lib.dll is not signed"));
        EXPECT_EQ(signatures.newFilesChecked, 1);
        EXPECT_EQ(machine.files.pauses.size(), static_cast<std::size_t>(locks)) << "only the lock is waited out";
        EXPECT_EQ(machine.App(L"lib.dll"), "signed by A");
        const std::wstring log =
            DecodeUtf8(machine.files.files.at(std::wstring(FakeMachine::kUpdate) + L"\\TessaloomUpdate.log").content);
        EXPECT_EQ(log.find(L"Update failed: error 577"), log.rfind(L"Update failed"));
        EXPECT_EQ(log.find(L"error 577"), log.rfind(L"error 577")) << "reported once";
    }
}

}  // namespace
}  // namespace tessaloom::test
