// Applying as a transaction, on fakes: a failure or a crash at every step of
// staging, committing and recovering leaves the application folder all-old
// or all-new, and never loses the genuine previous version.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>

#include "fakes.h"
#include "update/transaction.h"

namespace tessaloom::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

using Folder = std::map<std::wstring, std::pair<std::string, bool>>;  // name: content, hidden

constexpr wchar_t kApp[] = L"C:\\App";
constexpr wchar_t kStart[] = L"start \"C:\\App\\Tessaloom Main.exe\"";

// Three kinds of destination: new, with a current file and an earlier
// backup, and a hidden current file; plus a name in a subfolder.
FakeMachine& Prepare(FakeMachine& machine) {
    machine.List("path\r\none.dll\r\ntwo.dll\r\nthree.dll\r\nsub\\four.dll\r\n");
    for (const wchar_t* name : {L"one.dll", L"two.dll", L"three.dll", L"sub\\four.dll"}) {
        machine.NewFile(name, "new " + std::string(name, name + std::wcslen(name)));
    }
    machine.AppFile(L"two.dll", "old two");
    machine.AppFile(L"OLDtwo.dll", "older two");
    machine.AppFile(L"three.dll", "old three");
    machine.files.files[L"C:\\App\\three.dll"].hidden = true;
    machine.AppFile(L"sub\\four.dll", "old four");
    return machine;
}

Folder AppFolder(const FakeFiles& files) {
    Folder folder;
    for (const auto& [path, file] : files.files) {
        if (path.starts_with(std::wstring(kApp) + L"\\") && !path.ends_with(L".exe")) {
            folder[path.substr(std::wcslen(kApp) + 1)] = {file.content, file.hidden};
        }
    }
    return folder;
}

const Folder kAllOld = {{L"two.dll", {"old two", false}},
                        {L"OLDtwo.dll", {"older two", false}},
                        {L"three.dll", {"old three", true}},
                        {L"sub\\four.dll", {"old four", false}}};
const Folder kAllNew = {{L"one.dll", {"new one.dll", false}},      {L"two.dll", {"new two.dll", false}},
                        {L"OLDtwo.dll", {"old two", false}},       {L"three.dll", {"new three.dll", false}},
                        {L"OLDthree.dll", {"old three", false}},   {L"sub\\four.dll", {"new sub\\four.dll", false}},
                        {L"sub\\OLDfour.dll", {"old four", false}}};

// The walk as the window runs it, without the window.
void Walk(FakeFiles& files) {
    UpdateTransaction update(files, kApp, FakeMachine::kUpdate);
    update.Plan({L"one.dll", L"two.dll", L"three.dll", L"sub\\four.dll"});
    for (std::size_t i = 0; i < 4; ++i) {
        update.Stage(i, [] {});
    }
    update.Commit();
}

TEST(Transaction, AFailureAtAnyStepLeavesEverythingAsItWasAndReportsIt) {
    for (int failAt = 1;; ++failAt) {
        FakeMachine machine;
        Prepare(machine).files.failAt = failAt;
        machine.form.Load();
        machine.form.Command1_Click();
        const bool failed = machine.journal.back().find(L"Run-time error '112'") != std::wstring::npos;
        const bool stepsLeft = machine.files.changes >= failAt;
        // Tidying up after a complete commit may fail without failing the
        // update; the next start finishes it.
        machine.files.failAt = 0;
        RecoverInterruptedUpdate(machine.files, kApp);
        if (failed) {
            EXPECT_EQ(AppFolder(machine.files), kAllOld) << "failing change " << failAt;
            EXPECT_THAT(machine.journal, Not(Contains(kStart))) << failAt;
        } else {
            EXPECT_EQ(AppFolder(machine.files), kAllNew) << "failing change " << failAt;
            EXPECT_EQ(std::count(machine.journal.begin(), machine.journal.end(), kStart), 1) << failAt;
        }
        if (!stepsLeft) {
            EXPECT_GT(failAt, 15);
            break;
        }
    }
}

TEST(Transaction, ACrashAtAnyStepIsFinishedOrUndoneAtTheNextStartEvenIfThatCrashesToo) {
    for (int crashAt = 1;; ++crashAt) {
        bool walkDone = false;
        for (int recoveryCrashAt = 0; recoveryCrashAt < 40; ++recoveryCrashAt) {
            FakeMachine machine;
            FakeFiles& files = Prepare(machine).files;
            files.crashAt = crashAt;
            try {
                Walk(files);
                walkDone = true;
            } catch (const Crash&) {
            }
            // The next start, which may die too, then the one after it.
            files.crashed = false;
            files.crashAt = recoveryCrashAt == 0 ? 0 : files.changes + recoveryCrashAt;
            try {
                RecoverInterruptedUpdate(files, kApp);
            } catch (const Crash&) {
            }
            files.crashed = false;
            RecoverInterruptedUpdate(files, kApp);
            const Folder after = AppFolder(files);
            EXPECT_TRUE(after == kAllOld || after == kAllNew) << "crash at " << crashAt << ", then " << recoveryCrashAt;
            if (walkDone) {
                EXPECT_EQ(after, kAllNew);
                break;
            }
        }
        if (walkDone) {
            EXPECT_GT(crashAt, 15);
            break;
        }
    }
}

TEST(Transaction, TransientLocksAreWaitedOutAndLastingOnesFailWithNothingChanged) {
    FakeMachine brief;
    Prepare(brief).files.locked[L"C:\\App\\two.dll"] = 3;
    brief.form.Load();
    brief.form.Command1_Click();
    EXPECT_EQ(AppFolder(brief.files), kAllNew);
    EXPECT_THAT(brief.files.pauses, ElementsAre(50, 100, 200));

    FakeMachine lasting;
    Prepare(lasting).files.locked[std::wstring(FakeMachine::kUpdate) + L"\\three.dll"] = -1;
    lasting.form.Load();
    lasting.form.Command1_Click();
    EXPECT_EQ(AppFolder(lasting.files), kAllOld);
    EXPECT_THAT(lasting.files.pauses, ElementsAre(50, 100, 200, 400, 800, 1000, 1000, 1000));
    EXPECT_THAT(lasting.journal.back(), HasSubstr(L"Run-time error '32'"));
}

TEST(Transaction, TheGenuinePreviousVersionSurvivesUpdatingAgainAndNamesListedTwice) {
    FakeMachine machine;
    machine.List("path\r\na.dll\r\nA.DLL\r\nsub\\c.dll\r\nsub/c.dll\r\n");
    // Windows finds each file under either spelling.
    for (const wchar_t* name : {L"a.dll", L"A.DLL"}) {
        machine.NewFile(name, "new a");
    }
    for (const wchar_t* name : {L"sub\\c.dll", L"sub/c.dll"}) {
        machine.NewFile(name, "new c");
    }
    machine.AppFile(L"a.dll", "old a");
    machine.AppFile(L"sub\\c.dll", "old c");
    machine.form.Load();
    machine.form.Command1_Click();
    const Folder once = {{L"a.dll", {"new a", false}},
                         {L"OLDa.dll", {"old a", false}},
                         {L"sub\\c.dll", {"new c", false}},
                         {L"sub\\OLDc.dll", {"old c", false}}};
    EXPECT_EQ(AppFolder(machine.files), once);
    EXPECT_THAT(machine.view.fillWidths, ElementsAre(0.0F, 0.0F, 476.25F, 952.5F, 1428.75F, 1905.0F));

    // The list is still there at the next start: "Update" changes nothing.
    FakeMachine again;
    again.files.files = machine.files.files;
    again.form.Load();
    again.form.Command1_Click();
    EXPECT_EQ(AppFolder(again.files), once);
    EXPECT_THAT(again.journal, Contains(HasSubstr(L"updated with success"))) << "identical files count as applied";
}

TEST(Transaction, AFileThatVanishesBeforeItsCopyIsSkippedAndAloneReportsNoSuccess) {
    FakeMachine machine;
    machine.List("path\r\none.dll\r\n");
    machine.NewFile(L"one.dll", "new");
    machine.AppFile(L"one.dll", "current");
    machine.files.vanishing.insert(std::wstring(FakeMachine::kUpdate) + L"\\one.dll");
    machine.form.Load();
    machine.form.Command1_Click();
    EXPECT_EQ(AppFolder(machine.files), (Folder{{L"one.dll", {"current", false}}}));
    EXPECT_EQ(WithoutLog(machine.journal).back(), kStart);
    EXPECT_THAT(machine.journal, Not(Contains(HasSubstr(L"success"))));
}

TEST(Transaction, ASecondUpdaterForTheSameFolderStepsAside) {
    FakeMachine machine;
    Prepare(machine).process.otherUpdaterRunning = true;
    machine.form.Load();
    EXPECT_THAT(machine.journal, ElementsAre(L"activate the other updater"));
    EXPECT_FALSE(machine.view.model.Shown());
    EXPECT_FALSE(machine.form.Running());
}

TEST(Transaction, WithoutARealDocumentsFolderAPlantedListIsNeverRead) {
    for (const wchar_t* documents : {L"", L"Docs"}) {
        FakeMachine machine;
        machine.form.Special_Folder(std::make_unique<FakeSpecialFolder>(documents));
        const std::wstring planted = std::wstring(documents) + L"\\My TessaloomSaaS Projects\\Update";
        machine.files.files[planted + L"\\TessaloomUpdate.txt"] = {"path\r\nevil.dll\r\n"};
        machine.files.files[planted + L"\\evil.dll"] = {"evil"};
        machine.form.Load();
        EXPECT_THAT(machine.journal, ElementsAre(kStart)) << documents;
        EXPECT_FALSE(machine.view.model.Shown());
    }
}

}  // namespace
}  // namespace tessaloom::test
