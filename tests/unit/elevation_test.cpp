// Applying where this user may not write: when the window asks for
// administrator rights, what declining leaves, and the elevated instance's
// reports moving the bar and filling the log, on fakes.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "core/elevated_command.h"
#include "core/text.h"
#include "fakes.h"

namespace tessaloom::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::string_literals;

constexpr wchar_t kAsk[] = L"ask for administrator rights";
constexpr wchar_t kStart[] = L"start \"C:\\App\\Tessaloom Main.exe\"";

TEST(Elevation, AsksOnceOnlyWhereTheFolderIsNotWritableAndDecliningChangesNothing) {
    struct Case {
        const char* list;
        bool writable;
        bool declined;
        int asks;
        const char* two;  // two.dll afterwards
    };
    const std::vector<Case> cases = {
        {"path\r\none.dll\r\ntwo.dll\r\n", true, false, 0, "new"},
        {"path\r\none.dll\r\ntwo.dll\r\n", false, false, 1, "new"},
        {"path\r\none.dll\r\ntwo.dll\r\n", false, true, 1, "old"},
        {"path\r\n", false, false, 0, "old"},  // nothing listed: nothing to ask for
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.writable << c.declined << c.list);
        FakeMachine machine;
        machine.List(c.list);
        machine.NewFile(L"one.dll", "new");
        machine.NewFile(L"two.dll", "new");
        machine.AppFile(L"two.dll", "old");
        machine.elevation.writable = c.writable;
        machine.elevation.declined = c.declined;
        machine.form.Load();
        machine.form.Command1_Click();
        EXPECT_EQ(std::count(machine.journal.begin(), machine.journal.end(), kAsk), c.asks);
        EXPECT_EQ(machine.App(L"two.dll"), c.two);
        if (c.declined) {
            EXPECT_TRUE(machine.form.Running()) << "the window stays open";
            EXPECT_EQ(machine.App(L"OLDtwo.dll"), "<absent>");
            EXPECT_THAT(machine.journal, Not(Contains(kStart)));
            machine.form.Command2_Click();
        }
        EXPECT_EQ(std::count(machine.journal.begin(), machine.journal.end(), kStart), 1) << "started unelevated";
    }
    FakeMachine none;
    none.elevation.writable = false;
    none.form.Load();
    EXPECT_THAT(none.journal, ElementsAre(kStart)) << "the no-update path never asks";
}

TEST(Elevation, TheElevatedInstanceMovesTheBarFillsTheLogAndItsErrorEndsTheWalk) {
    for (const int failAt : {0, 5}) {
        SCOPED_TRACE(failAt);
        FakeMachine machine;
        machine.List("path\r\none.dll\r\ntwo.dll\r\nthree.dll\r\n");
        for (const wchar_t* name : {L"one.dll", L"two.dll", L"three.dll"}) {
            machine.NewFile(name, "new");
        }
        machine.AppFile(L"two.dll", "old");
        machine.elevation.writable = false;
        machine.files.locked[std::wstring(FakeMachine::kUpdate) + L"\\one.dll"] = 1;
        machine.form.Load();
        machine.files.failAt = failAt;  // 5: staging three.dll
        machine.form.Command1_Click();
        const std::string& bytes =
            machine.files.files.at(std::wstring(FakeMachine::kUpdate) + L"\\TessaloomUpdate.log").content;
        const std::wstring log = DecodeUtf8(bytes);
        EXPECT_THAT(log, HasSubstr(L"Applied with administrator rights"));
        EXPECT_THAT(log, HasSubstr(L"Retry in 50 ms: C:\\Docs\\My TessaloomSaaS Projects\\Update\\one.dll: error 32"));
        EXPECT_THAT(log, HasSubstr(L"two.dll: staged"));
        if (failAt == 0) {
            EXPECT_THAT(machine.view.fillWidths, ElementsAre(0.0F, 0.0F, 635.0F, 1270.0F, 1905.0F));
            EXPECT_THAT(log, HasSubstr(L"two.dll: backed up as OLDtwo.dll"));
            EXPECT_EQ(machine.App(L"two.dll"), "new");
            EXPECT_EQ(WithoutLog(machine.journal).back(), kStart);
        } else {
            EXPECT_THAT(machine.view.fillWidths, ElementsAre(0.0F, 0.0F, 635.0F, 1270.0F));
            EXPECT_THAT(log, HasSubstr(L"Every change of this update was undone"));
            EXPECT_THAT(log, HasSubstr(L"Update failed: error 112"));
            EXPECT_EQ(machine.App(L"two.dll"), "old");
            EXPECT_EQ(machine.App(L"one.dll"), "<absent>");
            EXPECT_THAT(machine.journal.back(), HasSubstr(L"Run-time error '112'"));
        }
    }
}

TEST(Elevation, OnlyPipesOfOurOwnAreEverOpenedAsTheOtherEnd) {
    const std::wstring ours = std::wstring(kPipePrefix);
    for (const std::wstring& name : {ours + L"0000002A.0123456789ABCDEF.0", ours + L"test.42"}) {
        EXPECT_TRUE(IsUpdaterPipeName(name)) << name;
    }
    for (const std::wstring& name :
         {std::wstring(L"\\\\.\\pipe\\Other.1"), std::wstring(L"C:\\Users\\me\\file"), ours,
          ours + L"1\\..\\..\\C:\\file", ours + L"1\\..\\..\\Other.1", ours + L"1/x", ours + L"1:stream", ours + L"1 2",
          std::wstring(L"\\\\server\\pipe\\TessaloomUpdate.1"), std::wstring(L"\\\\?\\pipe\\TessaloomUpdate.1"),
          ours + std::wstring(300, L'1')}) {
        EXPECT_FALSE(IsUpdaterPipeName(name)) << name;
    }
}

TEST(Elevation, OnlyAWellFormedCommandLineOrPlanIsTheElevatedInstancesWork) {
    EXPECT_FALSE(ParseElevatedCommand(L" C:\\App\\Tessaloom Main.exe"));
    for (const wchar_t* line : {L"|elevated", L"|elevated x", L"|elevatedx p 1", L"|elevated p 0", L"|elevated p 1x",
                                L"|elevated p 99999999999"}) {
        EXPECT_FALSE(ParseElevatedCommand(line)) << line;
    }
    const auto command = ParseElevatedCommand(L" " + FormatElevatedCommand({L"\\\\.\\pipe\\x.1", 4294967295U}) + L" ");
    ASSERT_TRUE(command);
    EXPECT_EQ(command->pipe, L"\\\\.\\pipe\\x.1");
    EXPECT_EQ(command->parentId, 4294967295U);

    const ElevatedPlan plan{L"C:\\Docs\\\u6587", {L"a.dll", L"sub\\b.dll"}, {0, 0xFFFFFFFCULL}};
    const auto decoded = DecodePlan(EncodePlan(plan));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->updateFolder, plan.updateFolder);
    EXPECT_EQ(decoded->names, plan.names);
    EXPECT_EQ(decoded->files, plan.files);
    // Each name with one number, of digits only.
    for (const std::string& odd : {"a.dll\0-4"s, "a.dll\0x"s, "a.dll"s,
                                   "a.dll\0"
                                   "4\0b.dll"s}) {
        EXPECT_FALSE(DecodePlan("plan\0C:\\U\0"s + odd)) << odd;
    }
    struct PlanCase {
        const wchar_t* folder;
        std::vector<std::wstring> names;
        bool accepted;
    };
    const std::vector<PlanCase> plans = {
        {L"C:\\Docs\\Update", {L"a.dll"}, true},
        {L"z:/Docs/Update", {L"sub/a.dll"}, true},
        {L"C:\\", {}, true},
        {L"relative", {}, false},
        {L"C:relative", {}, false},
        {L"\\\\server\\share\\Update", {}, false},
        {L"//server/share/Update", {}, false},
        {L"\\\\.\\pipe\\x", {}, false},
        {L"\\\\.\\C:\\Update", {}, false},
        {L"\\\\?\\C:\\Update", {}, false},
        {L"\\\\?\\UNC\\server\\share", {}, false},
        {L"\\??\\C:\\Update", {}, false},
        {L"\\Docs", {}, false},
        {L"1:\\Docs", {}, false},
        {L"C:\\Docs:stream", {}, false},
        {L"C:\\Do*", {}, false},
        {L"C:\\Docs\\Update", {L"..\\x.dll"}, false},
        {L"C:\\Docs\\Update", {L"C:\\Windows\\x.dll"}, false},
        {L"C:\\Docs\\Update", {L"a.dll", L"\\\\server\\x.dll"}, false},
        {L"C:\\Docs\\Update", {L"x.dll:evil"}, false},
        {L"C:\\Docs\\Update", {L"TessaloomUpdate.journal"}, false},
    };
    for (const PlanCase& c : plans) {
        std::vector<std::uint64_t> files(c.names.size());
        std::iota(files.begin(), files.end(), 4);
        const auto decoded = DecodePlan(EncodePlan({c.folder, c.names, files}));
        EXPECT_EQ(decoded.has_value(), c.accepted) << c.folder;
        if (decoded) {
            EXPECT_EQ(decoded->updateFolder, c.folder);
            EXPECT_EQ(decoded->names, c.names);
            EXPECT_EQ(decoded->files, files);
        }
    }
    EXPECT_FALSE(
        DecodePlan("staged\0"
                   "1"));
}

}  // namespace
}  // namespace tessaloom::test
