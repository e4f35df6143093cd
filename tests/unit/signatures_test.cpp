// Which new files an elevated update installs, by their signatures: one
// table over current file, new file, signer and install.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <functional>
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
const SignedFile kByC{Signature::Valid, "certificate C"};
const SignedFile kBrokenA{Signature::Broken, "certificate A"};
const SignedFile kSignedUnknown{Signature::Valid, ""};
const SignedFile kUncheckable{Signature::Uncheckable, ""};
const SignedFile kUnsignedImage{Signature::None, "", true};  // begins with "MZ"
// The updater: unsigned, or signed by A (a signed install).
const SignedFile kUnsignedInstall = kUnsigned;
const SignedFile kInstallByA = kByA;

TEST(Signatures, ASignedInstallTakesNoCodeButItsSignersAndNothingUncheckable) {
    struct Case {
        const wchar_t* name;
        std::optional<SignedFile> current;
        SignedFile fresh;
        SignedFile updater;
        bool installed;
    };
    const std::vector<Case> cases = {
        // An unsigned install: only a signed current file is held to its signer.
        {L"a.dll", kUnsigned, kUnsigned, kUnsignedInstall, true},
        {L"a.dll", kUnsigned, kBrokenA, kUnsignedInstall, true},
        {L"a.dll", std::nullopt, kUnsigned, kUnsignedInstall, true},
        {L"a.dll", kByA, kByA, kUnsignedInstall, true},
        {L"a.dll", kByA, kByB, kUnsignedInstall, false},
        {L"a.dll", kByA, kUnsigned, kUnsignedInstall, false},
        {L"a.dll", kByA, kBrokenA, kUnsignedInstall, false},
        {L"data.txt", kByA, kUnsigned, kUnsignedInstall, false},  // whatever its name
        {L"a.dll", kBrokenA, kByA, kUnsignedInstall, true},       // its signer is still known
        {L"a.dll", kBrokenA, kByB, kUnsignedInstall, false},
        {L"a.dll", SignedFile{Signature::Broken, ""}, kByA, kUnsignedInstall, false},  // signer unknown: no match
        {L"a.dll", kSignedUnknown, kSignedUnknown, kUnsignedInstall, false},
        // A signature that cannot be checked never lets a file through.
        {L"data.txt", std::nullopt, kUncheckable, kUnsignedInstall, false},
        {L"data.txt", kUncheckable, kUnsigned, kUnsignedInstall, false},
        {L"a.dll", kUncheckable, kByA, kInstallByA, false},
        {L"a.dll", kByA, kUncheckable, kInstallByA, false},
        // A signed install: a signed current file, replaced by its signer or the updater's.
        {L"a.dll", kByA, kByA, kInstallByA, true},
        {L"a.dll", kByB, kByB, kInstallByA, true},
        {L"a.dll", kByB, kByA, kInstallByA, true},
        {L"a.dll", kByB, kByC, kInstallByA, false},
        {L"data.txt", kByB, kByA, kInstallByA, true},
        {L"data.txt", kByB, kUnsigned, kInstallByA, false},
        {L"a.dll", kBrokenA, kByA, kInstallByA, false},  // a signature that does not hold counts for nothing
        {L"a.dll", kByA, kBrokenA, kInstallByA, false},
        // ... an unsigned current program file, or none: the updater's signer only.
        {L"a.dll", kUnsigned, kUnsigned, kInstallByA, false},  // was replaceable by anything
        {L"a.dll", kUnsigned, kByA, kInstallByA, true},
        {L"a.dll", kUnsigned, kByB, kInstallByA, false},
        {L"new.dll", std::nullopt, kUnsigned, kInstallByA, false},
        {L"sub\\New.EXE", std::nullopt, kUnsigned, kInstallByA, false},
        {L"new.dll", std::nullopt, kBrokenA, kInstallByA, false},
        {L"new.dll", std::nullopt, kByB, kInstallByA, false},  // was any signer
        {L"new.dll", std::nullopt, kByA, kInstallByA, true},
        {L"new.dll", std::nullopt, kSignedUnknown, kInstallByA, false},
        // ... and with an updater whose signature does not hold, no signer is the updater's.
        {L"new.dll", std::nullopt, kByA, kBrokenA, false},
        {L"a.dll", kByB, kByB, kBrokenA, true},
        // ... a program by its content, new or current, whatever its name.
        {L"data.bin", std::nullopt, kUnsignedImage, kInstallByA, false},
        {L"data.bin", kUnsignedImage, kUnsigned, kInstallByA, false},
        {L"data.bin", std::nullopt, SignedFile{Signature::Valid, "certificate A", true}, kInstallByA, true},
        // ... and what is neither a program nor signed, as it is.
        {L"readme.txt", std::nullopt, kUnsigned, kInstallByA, true},
        {L"readme.txt", kUnsigned, kUnsigned, kInstallByA, true},
        {L"readme.txt", kUnsigned, kBrokenA, kInstallByA, false},  // a broken signature is never installed
        {L"dll", std::nullopt, kUnsigned, kInstallByA, true},
        {L"new.dll.txt", std::nullopt, kUnsigned, kInstallByA, true},
    };
    for (const Case& c : cases) {
        const auto refusal = SignatureRefusal(c.name, c.current, c.fresh, c.updater);
        EXPECT_EQ(!refusal.has_value(), c.installed)
            << std::string(c.name, c.name + std::wcslen(c.name)) << " current "
            << (c.current ? static_cast<int>(c.current->signature) : -1) << " new "
            << static_cast<int>(c.fresh.signature) << " updater " << static_cast<int>(c.updater.signature);
    }
    // Every kind of file that is a program or steers one, by name, in any case.
    for (const wchar_t* extension :
         {L".exe", L".dll", L".com", L".scr", L".cpl",  L".ocx",      L".ax",     L".acm",   L".sys",
          L".drv", L".msi", L".msp", L".ps1", L".psm1", L".bat",      L".cmd",    L".vbs",   L".vbe",
          L".js",  L".jse", L".wsf", L".hta", L".lnk",  L".manifest", L".config", L".local", L".Exe.CONFIG"}) {
        const std::wstring name = std::wstring(L"sub\\x") + extension;
        EXPECT_TRUE(IsProgramFile(name)) << std::string(name.begin(), name.end());
        EXPECT_TRUE(SignatureRefusal(name, std::nullopt, kUnsigned, kInstallByA));
        EXPECT_FALSE(SignatureRefusal(name, std::nullopt, kUnsigned, kUnsignedInstall));
    }
}

// An elevated update of lib.dll on fakes, checked by the signatures, where
// the current file is signed by A; the machine afterwards.
struct SignedUpdate {
    FakeMachine machine;
    FakeSignatures signatures{machine.files, machine.journal};
    static constexpr wchar_t kSource[] = L"C:\\Docs\\My TessaloomSaaS Projects\\Update\\lib.dll";

    explicit SignedUpdate(const std::string& fresh, const std::function<void(SignedUpdate&)>& arrange = {}) {
        machine.List("path\r\nlib.dll\r\n");
        machine.NewFile(L"lib.dll", fresh);
        machine.AppFile(L"lib.dll", "signed by A");
        signatures.byContent = {{"signed by A", kByA}, {"signed by A too", kByA}};
        machine.elevation.writable = false;
        machine.elevation.check = SignatureCheck(signatures, L"C:\\App", L"C:\\App\\TessaloomUpdate.exe");
        if (arrange) {
            arrange(*this);
        }
        machine.form.Load();
        machine.form.Command1_Click();
    }
    [[nodiscard]] std::wstring Log() {
        return DecodeUtf8(
            machine.files.files.at(std::wstring(FakeMachine::kUpdate) + L"\\TessaloomUpdate.log").content);
    }
};

// A refusal is a decision about the file: reported once, with its own error,
// and never waited out like a lock (a lock on the current file still is).
TEST(Signatures, ARefusalIsReportedOnceWithItsOwnErrorAndNeverWaitedOut) {
    for (const int locks : {0, 1}) {
        SCOPED_TRACE(locks);
        SignedUpdate update("unsigned", [&](SignedUpdate& u) { u.machine.files.locked[L"C:\\App\\lib.dll"] = locks; });
        const Journal& journal = update.machine.journal;
        EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                                [](const std::wstring& line) { return line.starts_with(L"error "); }),
                  1);
        EXPECT_THAT(journal.back(), ::testing::HasSubstr(L"Run-time error '577'"));
        EXPECT_THAT(journal.back(), ::testing::HasSubstr(L"the new lib.dll is not signed"));
        EXPECT_EQ(update.signatures.newFilesChecked, 1);
        EXPECT_EQ(update.machine.files.pauses.size(), static_cast<std::size_t>(locks)) << "only the lock is waited out";
        EXPECT_EQ(update.machine.App(L"lib.dll"), "signed by A");
        const std::wstring log = update.Log();
        EXPECT_EQ(log.find(L"Update failed: error 577"), log.rfind(L"Update failed"));
        EXPECT_EQ(log.find(L"error 577"), log.rfind(L"error 577")) << "reported once";
    }
}

// What is checked is the staged copy, flushed, beside its destination: a new
// file rewritten (size and time kept) through a handle that can still write,
// after the window opened it, installs nothing.
TEST(Signatures, WhatIsCheckedIsTheStagedCopyNotTheFileHandedOver) {
    for (const bool rewritten : {false, true}) {
        SCOPED_TRACE(rewritten);
        SignedUpdate update("signed by A too", [&](SignedUpdate& u) {
            if (rewritten) {
                u.machine.files.rewritten[SignedUpdate::kSource] = "planted code!!!";  // the same size
            }
        });
        const Journal& journal = update.machine.journal;
        const auto check = std::find(journal.begin(), journal.end(), L"check C:\\App\\lib.dll.tessaloom-new");
        ASSERT_NE(check, journal.end());
        EXPECT_THAT(
            std::vector(journal.begin(), check),
            ::testing::IsSupersetOf({L"copy C:\\App\\lib.dll.tessaloom-new", L"flush C:\\App\\lib.dll.tessaloom-new"}));
        EXPECT_EQ(update.machine.App(L"lib.dll"), rewritten ? "signed by A" : "signed by A too");
        EXPECT_EQ(update.machine.App(L"lib.dll.tessaloom-new"), "<absent>");
        EXPECT_EQ(update.machine.App(L"OLDlib.dll"), rewritten ? "<absent>" : "signed by A");
        if (rewritten) {
            EXPECT_THAT(journal.back(), ::testing::HasSubstr(L"the new lib.dll is not signed"));
        }
    }
}

}  // namespace
}  // namespace tessaloom::test
