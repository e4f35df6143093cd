// The claim on the application folder that a second updater of the session
// steps aside for: only an updater running this same executable proves to
// hold it; a name taken by anything else is gone on without.

#include <gtest/gtest.h>

#include <windows.h>

#include "services/process.h"

namespace tessaloom::test {
namespace {

TEST(Claim, AnUpdaterOfThisExecutableProvesItHoldsTheClaimToEveryoneWhoAsks) {
    Win32Process holder;
    ASSERT_EQ(holder.ClaimApplicationFolder(), Claim::Taken);
    EXPECT_EQ(holder.ClaimApplicationFolder(), Claim::Taken) << "asked again, still its own";
    for (int other = 0; other < 3; ++other) {
        Win32Process second;
        EXPECT_EQ(second.ClaimApplicationFolder(), Claim::Updater) << other;
    }
    holder.ReleaseApplicationFolder();
    Win32Process next;
    EXPECT_EQ(next.ClaimApplicationFolder(), Claim::Taken);
}

// The name's one instance kept busy, so that no updater can ask who holds
// it: nothing proves an updater holds it, so the updater goes on. (A holder
// of another executable that answers is the end-to-end test's.)
TEST(Claim, ANameThatLetsNoOneAskIsGoneOnWithout) {
    Win32Process process;
    const std::wstring name = ClaimPipeName(process.ApplicationFolder());
    HANDLE squat = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE, PIPE_TYPE_BYTE, 1,
                                    0, 0, 0, nullptr);
    ASSERT_NE(squat, INVALID_HANDLE_VALUE);
    HANDLE occupant = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(occupant, INVALID_HANDLE_VALUE);
    EXPECT_EQ(process.ClaimApplicationFolder(), Claim::Squatted);
    CloseHandle(occupant);
    CloseHandle(squat);
    EXPECT_EQ(process.ClaimApplicationFolder(), Claim::Taken);
}

}  // namespace
}  // namespace tessaloom::test
