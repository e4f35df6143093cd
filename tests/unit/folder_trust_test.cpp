// Administrator rights only where administrators decided, on fakes: which
// owners and access entries make a folder one that only administrators can
// change, reparse points on every level of a path, and what the window and
// the elevated instance do about a folder that fails.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "fakes.h"
#include "update/folder_trust.h"

namespace tessaloom::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::string_literals;

constexpr wchar_t kUsers[] = L"S-1-5-32-545";
constexpr wchar_t kMe[] = L"S-1-5-21-1-2-3-1001";
constexpr wchar_t kStart[] = L"start \"C:\\App\\Tessaloom Main.exe\"";
constexpr wchar_t kAsk[] = L"ask for administrator rights";

Guard With(AccessEntry entry) {
    Guard guard = FakeGuards::Installed();
    guard.dacl.push_back(std::move(entry));
    return guard;
}

TEST(FolderTrust, OnlyAnOwnerAndEntriesOfAdministratorsSystemOrTrustedInstallerMayChangeIt) {
    using Kind = AccessEntry::Kind;
    const auto owned = [](const wchar_t* owner) {
        Guard guard = FakeGuards::Installed();
        guard.owner = owner;
        return guard;
    };
    Guard noDacl = FakeGuards::Installed();
    noDacl.hasDacl = false;
    Guard emptyDacl = FakeGuards::Installed();
    emptyDacl.dacl.clear();
    Guard file = FakeGuards::Installed();
    file.folder = false;
    Guard junction = FakeGuards::Installed();
    junction.reparsePoint = true;
    struct Case {
        const char* what;
        Guard guard;
        const wchar_t* refusal;  // nothing: only administrators decide
    };
    const std::vector<Case> cases = {
        {"as installed", FakeGuards::Installed(), nullptr},
        {"owned by SYSTEM", owned(kSystemSid), nullptr},
        {"owned by TrustedInstaller", owned(kTrustedInstallerSid), nullptr},
        {"owned by the user", owned(kMe), L"is owned by S-1-5-21-1-2-3-1001, not by Administrators"},
        {"owned by Users", owned(kUsers), L"is owned by Users (S-1-5-32-545)"},
        {"no access list", noDacl, L"has no access list"},
        {"an empty access list", emptyDacl, nullptr},
        {"a file", file, L"is not a folder"},
        {"a junction", junction, L"is a junction"},
        {"nothing there", Guard{}, L"cannot be found"},
        // Each right that changes what the folder holds or who may, for another SID.
        {"add files", With({.sid = kUsers, .mask = kRightAddFile}), L"lets Users (S-1-5-32-545) add files"},
        {"add subfolders", With({.sid = kMe, .mask = kRightAddSubfolder}), L"add subfolders"},
        {"delete what it holds", With({.sid = kMe, .mask = kRightDeleteChild}), L"delete what it holds"},
        {"delete or rename it", With({.sid = kMe, .mask = kRightDelete}), L"delete or rename it"},
        {"change its permissions", With({.sid = kMe, .mask = kRightWriteDac}), L"change its permissions"},
        {"take it over", With({.sid = kMe, .mask = kRightWriteOwner}), L"take it over"},
        {"generic write", With({.sid = L"S-1-5-11", .mask = kRightGenericWrite}),
         L"Authenticated Users (S-1-5-11) write"},
        {"generic all", With({.sid = L"S-1-1-0", .mask = kRightGenericAll}), L"Everyone (S-1-1-0) do anything"},
        {"modify", With({.sid = kUsers, .mask = 0x1301BF}), L"add files, add subfolders, delete or rename it"},
        // Rights that change nothing it holds, and entries that grant nothing to the folder itself.
        {"read and execute", With({.sid = kUsers, .mask = 0x1200A9}), nullptr},
        {"attributes and extended attributes", With({.sid = kUsers, .mask = 0x110}), nullptr},
        {"denied", With({.kind = Kind::Deny, .sid = kUsers, .mask = kRightGenericAll}), nullptr},
        {"inherited only", With({.inheritOnly = true, .sid = kUsers, .mask = kRightGenericAll}), nullptr},
        {"full control for Administrators", With({.sid = kAdministratorsSid, .mask = kRightGenericAll}), nullptr},
        // An entry this check does not read is taken as granting anyone what it says.
        {"unknown kind", With({.kind = Kind::Other, .sid = kSystemSid, .mask = kRightAddFile}), L"does not read"},
        {"unknown kind, reading", With({.kind = Kind::Other, .sid = kUsers, .mask = 0x1200A9}), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto refusal = FolderRefusal(L"C:\\App", c.guard);
        EXPECT_EQ(refusal.has_value(), c.refusal != nullptr) << refusal.value_or(L"");
        if (refusal && c.refusal) {
            EXPECT_THAT(*refusal, HasSubstr(std::wstring(L"C:\\App ") + L"")) << *refusal;
            EXPECT_THAT(*refusal, HasSubstr(c.refusal));
        }
    }
}

// A reparse point, an untrusted or an unreadable folder anywhere from the
// application folder to a destination, its backup or working names refuses.
TEST(FolderTrust, NoPathFromTheApplicationFolderGoesThroughAReparsePointOrAFolderOthersCanChange) {
    const std::vector<std::wstring> names = {L"a.dll", L"sub\\deep\\b.dll", L"sub/c.dll"};
    struct Case {
        const wchar_t* entry;
        enum { kReparse, kUntrusted, kUnreadable } how;
        bool refused;
    };
    const std::vector<Case> cases = {
        {L"C:\\App", Case::kReparse, true},
        {L"C:\\App\\sub", Case::kReparse, true},
        {L"C:\\App\\sub\\deep", Case::kReparse, true},
        {L"C:\\App\\a.dll", Case::kReparse, true},
        {L"C:\\App\\OLDa.dll", Case::kReparse, true},
        {L"C:\\App\\a.dll.tessaloom-new", Case::kReparse, true},
        {L"C:\\App\\OLDa.dll.tessaloom-old", Case::kReparse, true},
        {L"C:\\App\\sub\\deep\\b.dll", Case::kReparse, true},
        {L"C:\\App\\sub\\deep\\OLDb.dll.tessaloom-old", Case::kReparse, true},
        {L"C:\\App\\sub/c.dll.tessaloom-new", Case::kReparse, true},
        {L"C:\\App\\TessaloomUpdate.journal", Case::kReparse, true},
        {L"C:\\App\\TessaloomUpdate.journal.tessaloom-new", Case::kReparse, true},
        {L"C:\\App\\TessaloomUpdate.lock", Case::kReparse, true},
        {L"C:\\App\\other.dll", Case::kReparse, false},  // not on any path of the update
        {L"C:\\App\\sub", Case::kUntrusted, true},
        {L"C:\\App\\sub\\deep", Case::kUntrusted, true},
        {L"C:\\App\\sub\\deep", Case::kUnreadable, true},
        {L"C:\\App\\OLDa.dll", Case::kUnreadable, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.how << " " << std::string(c.entry, c.entry + std::wcslen(c.entry)));
        FakeGuards guards;
        if (c.how == Case::kReparse) {
            guards.reparsePoints.insert(c.entry);
        } else if (c.how == Case::kUntrusted) {
            guards.folders[c.entry] = With({.sid = kUsers, .mask = kRightAddFile});
        } else {
            guards.unreadable.insert(c.entry);
        }
        const auto refusal = ApplicationFolderRefusal(guards, L"C:\\App", names);
        EXPECT_EQ(refusal.has_value(), c.refused) << refusal.value_or(L"");
        if (refusal) {
            EXPECT_THAT(*refusal, HasSubstr(c.entry));
        }
    }
    // A folder the update would make is not there to look into.
    FakeGuards missing;
    missing.folders[L"C:\\App\\sub"] = Guard{};
    EXPECT_FALSE(ApplicationFolderRefusal(missing, L"C:\\App", names));
    EXPECT_THAT(missing.looked, Not(Contains(L"C:\\App\\sub\\deep")));
    EXPECT_EQ(std::count(missing.looked.begin(), missing.looked.end(), L"C:\\App\\sub"), 1) << "each folder once";
}

// The attacks on a folder of the user's: the signed updater copied there,
// "create files" denied to the user so that the updater would elevate, and
// a junction j planted with a list or a journal naming files through it.
struct Attack {
    const char* what;
    std::function<void(FakeMachine&)> arrange;
};

std::vector<Attack> Attacks() {
    const auto owned = [](FakeMachine& m) { m.guards.folders[L"C:\\App"].owner = kMe; };
    return {
        {"a folder of the user's",
         [=](FakeMachine& m) {
             m.guards.folders[L"C:\\App"] = FakeGuards::Installed();
             owned(m);
         }},
        {"a folder the user may add to",
         [](FakeMachine& m) { m.guards.folders[L"C:\\App"] = With({.sid = kMe, .mask = kRightAddSubfolder}); }},
        {"a junction in an administrators' folder",
         [](FakeMachine& m) { m.guards.reparsePoints.insert(L"C:\\App\\j"); }},
    };
}

TEST(FolderTrust, TheWindowAsksForRightsOnlyWhereTheElevatedInstanceWouldNotRefuse) {
    for (const Attack& attack : Attacks()) {
        SCOPED_TRACE(attack.what);
        FakeMachine machine;
        machine.List("path\r\nj\\evil.bat\r\n");
        machine.NewFile(L"j\\evil.bat", "evil");
        machine.elevation.writable = false;
        attack.arrange(machine);
        const auto before = machine.files.files;
        machine.form.Load();
        machine.form.Command1_Click();
        EXPECT_THAT(machine.journal, Not(Contains(kAsk)));
        EXPECT_THAT(WithoutLog(machine.journal),
                    ::testing::ElementsAre(HasSubstr(L"message UpdateTessaloom: This update cannot be applied. "
                                                     L"Administrator rights are used only in a folder that only "
                                                     L"administrators can change, and C:\\App"),
                                           kStart));
        EXPECT_EQ(std::ranges::count_if(machine.files.files,
                                        [](const auto& file) { return file.first.starts_with(L"C:\\App"); }),
                  0);
        EXPECT_FALSE(machine.form.Running());
    }
    // An interrupted commit in such a folder is not finished with rights either.
    FakeMachine interrupted;
    interrupted.files.files[L"C:\\App\\TessaloomUpdate.journal"] = {
        "TessaloomUpdate journal 2\r\nphase U\r\nC- 4 7 4 7 0 0 j\\victim.dll\r\nend\r\n"};
    interrupted.elevation.writable = false;
    Attacks()[0].arrange(interrupted);
    interrupted.form.Load();
    EXPECT_THAT(interrupted.journal, Not(Contains(kAsk)));
    EXPECT_THAT(interrupted.journal.front(), HasSubstr(L"An interrupted update cannot be finished."));
    EXPECT_EQ(interrupted.journal.back(), kStart);
}

// The elevated instance checks for itself (a program of the user could drive
// the window past its own check): it refuses before touching anything.
TEST(FolderTrust, TheElevatedInstanceRefusesBeforeTouchingAnything) {
    struct Parent final : Channel {
        std::optional<std::string> plan;
        std::vector<std::string> reports;
        void Send(std::string_view report) override { reports.emplace_back(report); }
        std::optional<std::string> Receive() override { return std::exchange(plan, std::nullopt); }
        std::uint64_t HandOver(std::unique_ptr<SourceFile>) override { return 0; }
        std::unique_ptr<SourceFile> TakeOver(std::uint64_t) override { throw Crash{}; }
    };
    const std::string victim = "TessaloomUpdate journal 2\r\nphase U\r\nC- 4 7 4 7 0 0 j\\victim.dll\r\nend\r\n";
    for (const bool journal : {false, true}) {
        for (const Attack& attack : Attacks()) {
            SCOPED_TRACE(testing::Message() << attack.what << " journal " << journal);
            FakeMachine machine;
            machine.AppFile(L"j\\victim.dll", "good");
            machine.AppFile(L"j\\victim.dll.tessaloom-new", "evil");
            if (journal) {
                machine.files.files[L"C:\\App\\TessaloomUpdate.journal"] = {victim};
            }
            attack.arrange(machine);
            const auto before = machine.files.files;
            Parent parent;
            parent.plan = EncodePlan({FakeMachine::kUpdate,
                                      journal ? std::vector<std::wstring>{} : std::vector<std::wstring>{L"j\\evil.bat"},
                                      {0}});
            machine.files.openByPath = false;
            EXPECT_EQ(ApplyForParent(machine.files, machine.guards, L"C:\\App", parent), kErrAccessDenied);
            EXPECT_TRUE(machine.journal.empty()) << "nothing was changed";
            EXPECT_TRUE(machine.files.locks.empty()) << "not even its lock taken";
            EXPECT_EQ(machine.files.files.size(), before.size());
            ASSERT_EQ(parent.reports.size(), 1U);
            EXPECT_THAT(parent.reports[0], HasSubstr("result\0"
                                                     "5\0Access is denied: administrator rights are used only"s));
        }
    }
}

}  // namespace
}  // namespace tessaloom::test
