// The elevated instance and signed files, with files signed by two test
// signers (see sign_test_files.sh): a signed file is replaced only by a file
// of the same signer whose signature holds, a signed install takes program
// files only of the updater's signer or the current file's, and a refusal
// leaves every file as it was.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cwchar>

#include "harness.h"

namespace tessaloom::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::string Signed(const wchar_t* name) {
    return ReadBytes(name[0] == L'*' ? std::wstring(TESSALOOM_PLANTED_DLL)
                                     : std::wstring(TESSALOOM_SIGNED_DIR) + L"\\" + name);
}

TEST(Signatures, TheElevatedInstanceInstallsOnlyWhatTheSignersAllow) {
    constexpr const wchar_t* kUnsigned = L"*";  // the planted DLL as built
    struct Case {
        const char* what;
        const wchar_t* current;  // lib.dll in the application folder, or none
        const wchar_t* fresh;    // lib.dll in the update folder
        bool signedInstall;      // the elevated instance itself signed (by A)
        const char* refusal;     // nothing: installed
    };
    const Case cases[] = {
        {"same signer", L"payload_by_a.dll", L"target_by_a.exe", false, nullptr},
        {"another signer", L"payload_by_a.dll", L"payload_by_b.dll", false, "not signed by the signer"},
        // The signer is the publisher, never the authority above it.
        {"a sibling publisher under the same root", L"payload_by_leaf.dll", L"payload_by_sibling.dll", false,
         "not signed by the signer"},
        {"unsigned replacement", L"payload_by_a.dll", kUnsigned, false, "is not signed"},
        {"a changed byte", L"payload_by_a.dll", L"payload_broken.dll", false, "does not hold"},
        // A signed install: code only of the updater's signer or the current file's.
        {"unsigned current file, another signer", kUnsigned, L"payload_by_b.dll", true,
         "is not signed by the updater's signer"},
        {"unsigned current file, the updater's signer", kUnsigned, L"payload_by_a.dll", true, nullptr},
        {"current file of another signer, the updater's signer", L"payload_by_b.dll", L"payload_by_a.dll", true,
         nullptr},
        {"new code, signed install", nullptr, kUnsigned, true, "is not signed"},
        {"new code of another signer, signed install", nullptr, L"payload_by_b.dll", true,
         "is not signed by the updater's signer"},
        {"new code of the updater's signer, signed install", nullptr, L"payload_by_a.dll", true, nullptr},
        {"new code, unsigned install", nullptr, kUnsigned, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox sandbox(L"signed");
        sandbox.WriteUpdateList("path\r\nlib.dll\r\nnote.txt\r\n");
        sandbox.WriteNewFile(L"lib.dll", Signed(c.fresh));
        sandbox.WriteNewFile(L"note.txt", "new note");
        if (c.current != nullptr) {
            sandbox.WriteAppFile(L"lib.dll", Signed(c.current));
        }
        const std::wstring parent = sandbox.app + L"\\elevated_parent.exe";
        const std::wstring image = c.signedInstall ? std::wstring(TESSALOOM_SIGNED_DIR) + L"\\parent_by_a.exe"
                                                   : std::wstring(TESSALOOM_ELEVATED_PARENT_EXE);
        ASSERT_TRUE(CopyFileW(image.c_str(), parent.c_str(), FALSE));
        UpdaterRun run(parent, L" " + sandbox.MainProgram(), sandbox.app);
        EXPECT_EQ(run.WaitForExit(), 0U);
        const std::string shown = ReadBytes(sandbox.app + L"\\parent.log");
        if (c.refusal == nullptr) {
            EXPECT_THAT(shown, HasSubstr("Tessaloom updated with success"));
            EXPECT_EQ(ReadBytes(sandbox.app + L"\\lib.dll"), Signed(c.fresh));
            EXPECT_EQ(ReadBytes(sandbox.app + L"\\note.txt"), "new note");
        } else {
            EXPECT_THAT(shown, HasSubstr("Run-time error '577'"));
            EXPECT_THAT(shown, HasSubstr(c.refusal));
            EXPECT_THAT(shown, Not(HasSubstr("updated with success")));
            EXPECT_EQ(IsFile(sandbox.app + L"\\lib.dll"), c.current != nullptr);
            if (c.current != nullptr) {
                EXPECT_EQ(ReadBytes(sandbox.app + L"\\lib.dll"), Signed(c.current)) << "left as it was";
            }
            EXPECT_FALSE(IsFile(sandbox.app + L"\\note.txt")) << "the whole update was undone";
            EXPECT_FALSE(IsFile(sandbox.app + L"\\OLDlib.dll"));
        }
    }
}

// A program injected into the window hands over, instead of the file the
// window opened, the same file opened for writing too and rewrites it once
// the plan is sent; or a folder, or a pipe. The elevated instance takes over
// only a file of its own that no one else may write, so none of them is
// copied, and nothing is installed.
TEST(Signatures, WhatIsHandedOverIsTakenOverOnlyAsAFileNoOneElseCanWrite) {
    for (const wchar_t* what : {L"writable", L"folder", L"pipe"}) {
        SCOPED_TRACE(std::string(what, what + std::wcslen(what)));
        Sandbox sandbox(L"handed");
        sandbox.WriteUpdateList("path\r\nlib.dll\r\nnote.txt\r\n");
        sandbox.WriteNewFile(L"lib.dll", Signed(L"target_by_a.exe"));
        sandbox.WriteNewFile(L"note.txt", "new note");
        sandbox.WriteAppFile(L"lib.dll", Signed(L"payload_by_a.dll"));
        const std::wstring parent = sandbox.app + L"\\elevated_parent.exe";
        ASSERT_TRUE(CopyFileW(TESSALOOM_ELEVATED_PARENT_EXE, parent.c_str(), FALSE));
        ASSERT_TRUE(SetEnvironmentVariableW(L"TESSALOOM_TEST_HAND_OVER", what));
        UpdaterRun run(parent, L" " + sandbox.MainProgram(), sandbox.app);
        const auto code = run.WaitForExit();
        SetEnvironmentVariableW(L"TESSALOOM_TEST_HAND_OVER", nullptr);
        EXPECT_EQ(code, 0U);
        const std::string shown = ReadBytes(sandbox.app + L"\\parent.log");
        EXPECT_THAT(shown, HasSubstr("Run-time error '5'"));
        EXPECT_THAT(shown, HasSubstr(what == std::wstring(L"writable") ? "can still be changed by another program"
                                                                       : "what was handed over is not a file"));
        EXPECT_EQ(ReadBytes(sandbox.app + L"\\lib.dll"), Signed(L"payload_by_a.dll")) << "left as it was";
        EXPECT_FALSE(IsFile(sandbox.app + L"\\note.txt"));
        EXPECT_FALSE(IsFile(sandbox.app + L"\\OLDlib.dll"));
        EXPECT_FALSE(IsFile(sandbox.app + L"\\lib.dll.tessaloom-new"));
    }
}

}  // namespace
}  // namespace tessaloom::test
