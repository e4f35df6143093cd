// The pipe between the window and its elevated instance, as the system sees
// it: who may open it, that only a name of ours is ever created, and what a
// handle handed over through it must be.

#include <windows.h>
#include <aclapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/elevated_command.h"
#include "core/error.h"
#include "services/elevation.h"

namespace tessaloom {
namespace {

std::vector<unsigned char> CurrentUserSid() {
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    EXPECT_TRUE(GetTokenInformation(token, TokenUser, user.data(), size, &size));
    CloseHandle(token);
    const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    const auto* bytes = static_cast<const unsigned char*>(sid);
    return {bytes, bytes + GetLengthSid(sid)};
}

TEST(Pipe, AdmitsOnlyThisUserAndAdministratorsAndNoOneMayAddAnInstance) {
    const std::wstring name = std::wstring(kPipePrefix) + L"test." + std::to_wstring(GetCurrentProcessId());
    UniqueFile pipe = CreateUpdaterPipe(name);
    ASSERT_TRUE(pipe);

    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(pipe.Get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(dacl, nullptr) << "a null DACL lets everyone in";
    std::vector<unsigned char> admins(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(admins.size());
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins.data(), &size));
    std::vector<unsigned char> user = CurrentUserSid();
    ASSERT_EQ(dacl->AceCount, 2);
    std::vector<bool> seen(2, false);
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &ace));
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        ASSERT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(allowed->Mask & FILE_CREATE_PIPE_INSTANCE, 0U) << "no one may add an instance";
        EXPECT_EQ(allowed->Mask & (FILE_READ_DATA | FILE_WRITE_DATA), FILE_READ_DATA | FILE_WRITE_DATA);
        const PSID sid = &allowed->SidStart;
        seen[0] = seen[0] || EqualSid(sid, user.data());
        seen[1] = seen[1] || EqualSid(sid, admins.data());
    }
    EXPECT_TRUE(seen[0]) << "the user who started the window";
    EXPECT_TRUE(seen[1]) << "Administrators";
    LocalFree(descriptor);

    EXPECT_THROW(CreateUpdaterPipe(name), RuntimeError) << "one instance, ours";
}

TEST(Pipe, OnlyANameOfOursIsCreated) {
    for (const std::wstring& name :
         {L"\\\\.\\pipe\\Other." + std::to_wstring(GetCurrentProcessId()), std::wstring(kPipePrefix) + L"a\\b"}) {
        try {
            CreateUpdaterPipe(name);
            ADD_FAILURE() << "created " << std::string(name.begin(), name.end());
        } catch (const RuntimeError& error) {
            EXPECT_EQ(error.Number(), kErrAccessDenied);
        }
    }
}

// Windows answers a pipe's or a console's basic information as a file's,
// so the type alone keeps them out (Wine answers neither).
TEST(Pipe, OnlyAFileOnADiskIsTakenOverAsANewFile) {
    struct Case {
        DWORD type;
        DWORD attributes;
        bool taken;
    };
    const Case cases[] = {
        {FILE_TYPE_DISK, FILE_ATTRIBUTE_NORMAL, true},
        {FILE_TYPE_DISK, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, true},
        {FILE_TYPE_DISK, FILE_ATTRIBUTE_DIRECTORY, false},
        {FILE_TYPE_DISK, FILE_ATTRIBUTE_REPARSE_POINT, false},
        {FILE_TYPE_PIPE, FILE_ATTRIBUTE_NORMAL, false},
        {FILE_TYPE_CHAR, FILE_ATTRIBUTE_NORMAL, false},  // a console or a device
        {FILE_TYPE_UNKNOWN, FILE_ATTRIBUTE_NORMAL, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsFileOnDisk(c.type, c.attributes), c.taken) << "type " << c.type << ", attributes " << c.attributes;
    }
}

}  // namespace
}  // namespace tessaloom
