// The walk's log on fakes: what each position got, retries, the error that
// ended a walk after it was undone, and the previous log kept.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <utility>

#include "core/text.h"
#include "fakes.h"

namespace tessaloom::test {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

const std::wstring kLog = std::wstring(FakeMachine::kUpdate) + L"\\TessaloomUpdate.log";

// A walk over every kind of position, with a brief lock on one new file and
// the log of an earlier walk in place. gone.dll goes once it is listed.
void Prepare(FakeMachine& machine) {
    machine.List("path\r\none.dll\r\ntwo.dll\r\nsame.dll\r\nONE.DLL\r\ngone.dll\r\n");
    for (const wchar_t* name : {L"one.dll", L"ONE.DLL", L"two.dll", L"same.dll", L"gone.dll"}) {
        machine.NewFile(name, "new");
    }
    machine.AppFile(L"two.dll", "old");
    machine.AppFile(L"same.dll", "new");
    machine.files.locked[std::wstring(FakeMachine::kUpdate) + L"\\two.dll"] = 1;
    machine.files.files[kLog] = {"earlier walk"};
    machine.form.Load();
    machine.files.files.erase(std::wstring(FakeMachine::kUpdate) + L"\\gone.dll");
}

std::ptrdiff_t IndexOf(const Journal& journal, const std::wstring& entry) {
    return std::find(journal.begin(), journal.end(), entry) - journal.begin();
}

TEST(WalkLog, SaysWhatEachPositionGotAndWhyAWalkFailedKeepingThePreviousLog) {
    // The change number of backing up two.dll, learnt from a walk that succeeds.
    FakeMachine probe;
    Prepare(probe);
    probe.form.Command1_Click();
    const int backUpTwo = static_cast<int>(IndexOf(probe.journal, L"rename C:\\App\\two.dll")) + 1;

    struct Case {
        int failAt;
        std::vector<std::wstring> says;
        std::vector<std::wstring> never;
    };
    const std::vector<Case> cases = {
        {0,
         {L"TessaloomUpdate 4.00.0006, update started 2024-05-31 14:03:27 UTC+02:00\r\n"
          L"Application folder: C:\\App\r\nUpdate folder: C:\\Docs\\My TessaloomSaaS Projects\\Update\r\n",
          L"Retry in 50 ms: C:\\Docs\\My TessaloomSaaS Projects\\Update\\two.dll: error 32: The process cannot "
          L"access the file because it is being used by another process.\r\n",
          L"same.dll: left alone, already identical", L"ONE.DLL: listed twice", L"gone.dll: skipped, not in",
          L"one.dll: staged", L"two.dll: backed up as OLDtwo.dll\r\ntwo.dll: new file in place",
          L"Update complete\r\nStarting \"C:\\App\\Tessaloom Main.exe\"\r\n"},
         {L"failed", L"undone"}},
        {backUpTwo,
         {L"two.dll: staged", L"Update failed: error 112: There is not enough space on the disk.",
          L"Every change of this update was undone"},
         {L"complete", L"Starting"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failAt);
        FakeMachine machine;
        Prepare(machine);
        machine.files.failAt = c.failAt;
        machine.form.Command1_Click();

        const std::string& bytes = machine.files.files.at(kLog).content;
        ASSERT_TRUE(bytes.starts_with("\xEF\xBB\xBF"));
        const std::wstring log = DecodeUtf8(std::string_view(bytes).substr(3));
        for (const std::wstring& said : c.says) {
            EXPECT_THAT(log, HasSubstr(said));
        }
        for (const std::wstring& unsaid : c.never) {
            EXPECT_THAT(log, Not(HasSubstr(unsaid)));
        }
        EXPECT_EQ(machine.files.files.at(kLog + L".1").content, "earlier walk");
        // Written once the walk is over: after undoing, before the error box.
        const Journal& journal = machine.journal;
        EXPECT_EQ(std::count(journal.begin(), journal.end(), L"write " + kLog), 1);
        EXPECT_LT(IndexOf(journal, L"write " + kLog), IndexOf(journal,
                                                              L"error Setup: Run-time error '112':\n\n"
                                                              L"There is not enough space on the disk."));
        if (c.failAt != 0) {
            EXPECT_EQ(machine.App(L"one.dll"), "<absent>");
            EXPECT_GT(IndexOf(journal, L"write " + kLog), IndexOf(journal, L"rename C:\\App\\one.dll"))
                << "the log comes after one.dll, already in place, is taken back";
        }
    }
}

TEST(WalkLog, IsNeverWrittenWithoutAWalkNorStopsOneWhenItCannotBeWritten) {
    FakeMachine cancel;
    Prepare(cancel);
    cancel.form.Command2_Click();
    EXPECT_EQ(cancel.files.files.at(kLog).content, "earlier walk");
    EXPECT_FALSE(cancel.files.files.contains(kLog + L".1"));

    FakeMachine full;
    Prepare(full);
    full.files.locked[kLog] = -1;
    full.files.locked[kLog + L".1"] = -1;
    full.form.Command1_Click();
    EXPECT_EQ(full.App(L"two.dll"), "new");
    EXPECT_EQ(full.journal.back(), L"start \"C:\\App\\Tessaloom Main.exe\"");
}

TEST(WalkLog, EachEventIsOneLineNamingTheFilesItTouched) {
    using Step = UpdateEvents::Step;
    const RuntimeError split(5, L"Access is denied.\r\nSee the\nadministrator\r");
    const struct {
        std::function<void(WalkLog&)> event;
        std::wstring line;
    } cases[] = {
        {[](WalkLog& log) { log.Did(Step::BackedUp, L"sub\\x.dll"); }, L"sub\\x.dll: backed up as sub\\OLDx.dll"},
        {[](WalkLog& log) { log.Did(Step::BackedUp, L"a\\b\\x.dll"); }, L"a\\b\\x.dll: backed up as a\\b\\OLDx.dll"},
        {[&](WalkLog& log) { log.Failed(split); },
         L"Update failed: error 5: Access is denied.  See the administrator "},
        {[&](WalkLog& log) { log.Retrying(L"C:\\U\\x.dll", split, 100); },
         L"Retry in 100 ms: C:\\U\\x.dll: error 5: Access is denied.  See the administrator "},
        {[](WalkLog& log) { log.Did(Step::Staged, L"a\r\nb.dll"); }, L"a  b.dll: staged"},
        {[](WalkLog& log) { log.Note(L"Started \"C:\\App\\x.exe\"\n"); }, L"Started \"C:\\App\\x.exe\" "},
    };
    for (const auto& c : cases) {
        WalkLog log;
        c.event(log);
        EXPECT_EQ(log.Text(), "\xEF\xBB\xBF" + EncodeUtf8(c.line) + "\r\n");
    }
}

TEST(WalkLog, ThreeWalksInARowLeaveThisLogAndThePreviousOneOnly) {
    Journal journal;
    FakeFiles files(journal);
    for (const wchar_t* walk : {L"first walk", L"second walk", L"third walk"}) {
        WalkLog log;
        log.Note(walk);
        log.Write(files, FakeMachine::kUpdate);
    }
    std::vector<std::pair<std::wstring, std::string>> left;
    for (const auto& [path, file] : files.files) {
        left.emplace_back(path, file.content);
    }
    EXPECT_THAT(left, ElementsAre(std::pair(kLog, std::string("\xEF\xBB\xBFthird walk\r\n")),
                                  std::pair(kLog + L".1", std::string("\xEF\xBB\xBFsecond walk\r\n"))));
}

}  // namespace
}  // namespace tessaloom::test
