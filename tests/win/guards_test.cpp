// What guards real folders, read under Wine: the owner and access list of a
// folder through its handle, opened without following reparse points. Wine
// makes every folder's owner the user (and keeps no other), so a folder here
// is one that others than administrators can change, as a folder of the
// user's is on Windows. Wine 8 cannot make a reparse point: those rows are
// the fakes'.

#include <windows.h>
#include <sddl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "harness.h"
#include "services/guards.h"
#include "update/folder_trust.h"

namespace tessaloom {
namespace {

using ::testing::HasSubstr;

std::wstring UserSid() {
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    std::vector<unsigned char> user(256);
    DWORD size = 0;
    EXPECT_TRUE(GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size));
    CloseHandle(token);
    wchar_t* text = nullptr;
    EXPECT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text));
    std::wstring sid = text;
    LocalFree(text);
    return sid;
}

TEST(Guards, AFolderOfTheUsersIsReadThroughItsHandleAndRefused) {
    std::wstring temp(MAX_PATH + 1, L'\0');
    temp.resize(GetTempPathW(static_cast<DWORD>(temp.size()), temp.data()));
    const std::wstring folder = temp + L"tessaloom-guards-" + std::to_wstring(GetCurrentProcessId());
    test::RemoveTree(folder);
    test::MakeFolders(folder + L"\\sub");
    test::WriteBytes(folder + L"\\a.dll", "a");
    {
        Win32Guards guards;
        const Guard guard = guards.Folder(folder);
        EXPECT_TRUE(guard.found);
        EXPECT_TRUE(guard.folder);
        EXPECT_FALSE(guard.reparsePoint);
        EXPECT_EQ(guard.owner, UserSid());
        EXPECT_TRUE(guard.hasDacl);
        EXPECT_FALSE(guard.dacl.empty());
        const auto refusal = ApplicationFolderRefusal(guards, folder, {L"sub\\b.dll", L"a.dll"});
        ASSERT_TRUE(refusal);
        EXPECT_THAT(*refusal, HasSubstr(L"is owned by " + UserSid()));

        const Guard file = guards.Folder(folder + L"\\a.dll");
        EXPECT_TRUE(file.found);
        EXPECT_FALSE(file.folder);
        EXPECT_FALSE(guards.Folder(folder + L"\\missing").found);
        EXPECT_FALSE(guards.Folder(folder + L"\\missing\\deeper").found);
        EXPECT_FALSE(guards.IsReparsePoint(folder + L"\\a.dll"));
        EXPECT_FALSE(guards.IsReparsePoint(folder + L"\\missing"));
        EXPECT_FALSE(guards.IsReparsePoint(folder + L"\\missing\\deeper"));

        // Held, the folder's files can still be renamed (Wine renames even
        // the folder itself, which Windows refuses while it is held).
        EXPECT_TRUE(MoveFileExW((folder + L"\\a.dll").c_str(), (folder + L"\\b.dll").c_str(), 0));
        EXPECT_TRUE(DeleteFileW((folder + L"\\b.dll").c_str()));
    }
    test::RemoveTree(folder);
}

}  // namespace
}  // namespace tessaloom
