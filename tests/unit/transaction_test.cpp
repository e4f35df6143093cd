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
constexpr auto npos = std::string::npos;
constexpr wchar_t kStart[] = L"start \"C:\\App\\Tessaloom Main.exe\"";
constexpr wchar_t kJournal[] = L"C:\\App\\TessaloomUpdate.journal";
// Rewriting the journal in place: the digests, then the phase "commit",
// then the phase "tidy".
constexpr wchar_t kPhaseWrite[] = L"write C:\\App\\TessaloomUpdate.journal";
constexpr int kCommitPhaseWrite = 2;

// Three kinds of destination: new (beside the backup of a file the user
// deleted), with a current file and an earlier backup, and a hidden current
// file; plus a name in a subfolder.
FakeMachine& Prepare(FakeMachine& machine) {
    machine.List("path\r\none.dll\r\ntwo.dll\r\nthree.dll\r\nsub\\four.dll\r\n");
    for (const wchar_t* name : {L"one.dll", L"two.dll", L"three.dll", L"sub\\four.dll"}) {
        machine.NewFile(name, "new " + std::string(name, name + std::wcslen(name)));
    }
    machine.AppFile(L"OLDone.dll", "older one");
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

const Folder kAllOld = {{L"OLDone.dll", {"older one", false}},
                        {L"two.dll", {"old two", false}},
                        {L"OLDtwo.dll", {"older two", false}},
                        {L"three.dll", {"old three", true}},
                        {L"sub\\four.dll", {"old four", false}}};
const Folder kAllNew = {{L"one.dll", {"new one.dll", false}},      {L"OLDone.dll", {"older one", false}},
                        {L"two.dll", {"new two.dll", false}},
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

// A failure at any step is undone before it is reported, and stays undone
// if the process dies while undoing it.
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
        // The process dies while it undoes: the next start goes on undoing.
        for (int dyingAt = 1; failed && dyingAt <= 3; ++dyingAt) {
            FakeMachine dying;
            FakeFiles& files = Prepare(dying).files;
            files.failAt = failAt;
            files.crashAt = failAt + dyingAt;
            EXPECT_ANY_THROW(Walk(files));
            // Dying before "undo" reached the journal, it died mid-commit.
            const auto journal = files.files.find(kJournal);
            const bool committing = journal != files.files.end() && journal->second.content.find("phase C") != npos;
            files.crashed = false;
            files.failAt = files.crashAt = 0;
            RecoverInterruptedUpdate(files, kApp);
            EXPECT_EQ(AppFolder(files), committing ? kAllNew : kAllOld)
                << "failing change " << failAt << ", dying " << dyingAt << " later";
        }
        if (!stepsLeft) {
            EXPECT_GT(failAt, 15);
            break;
        }
    }
}

// A destination changed or removed between the plan and the commit is no
// longer what the plan backs up: the walk fails and puts everything back,
// the change kept as it stands, and nothing is left for the next start.
TEST(Transaction, ADestinationChangedAfterThePlanFailsTheWalkAndKeepsTheChange) {
    for (const bool removed : {false, true}) {
        SCOPED_TRACE(removed ? "removed" : "changed");
        FakeMachine machine;
        FakeFiles& files = Prepare(machine).files;
        Folder expected = kAllOld;
        EXPECT_EQ(ErrorNumber([&] {
                      UpdateTransaction update(files, kApp, FakeMachine::kUpdate);
                      update.Plan({L"one.dll", L"two.dll", L"three.dll", L"sub\\four.dll"});
                      if (removed) {
                          files.files.erase(L"C:\\App\\two.dll");
                          expected.erase(L"two.dll");
                      } else {
                          files.files[L"C:\\App\\two.dll"].content = expected[L"two.dll"].first = "changed two";
                      }
                      for (std::size_t i = 0; i < 4; ++i) {
                          update.Stage(i, [] {});
                      }
                      update.Commit();
                  }),
                  kErrPathFileAccess)
            << "reported as applied";
        EXPECT_EQ(AppFolder(files), expected);
        EXPECT_EQ(FindInterruptedUpdate(files, kApp), Interrupted::None);
    }
}

// Each crash has one right outcome: all-old until the commit phase is on
// disk, all-new after it, whether or not the next start dies too.
// On a volume that keeps times to 2 s too.
TEST(Transaction, ACrashAtAnyStepIsFinishedOrUndoneAtTheNextStartEvenIfThatCrashesToo) {
    for (const std::uint64_t resolution : {1ULL, 20'000'000ULL}) {
        for (int crashAt = 1;; ++crashAt) {
            bool walkDone = false;
            for (int recoveryCrashAt = 0; recoveryCrashAt < 40; ++recoveryCrashAt) {
                FakeMachine machine;
                FakeFiles& files = Prepare(machine).files;
                files.timeResolution = resolution;
                files.crashAt = crashAt;
                try {
                    Walk(files);
                    walkDone = true;
                } catch (const Crash&) {
                }
                const bool committed =
                    std::count(machine.journal.begin(), machine.journal.end(), kPhaseWrite) >= kCommitPhaseWrite;
                // The next start, which may die too, then the one after it.
                files.crashed = false;
                files.crashAt = recoveryCrashAt == 0 ? 0 : files.changes + recoveryCrashAt;
                try {
                    RecoverInterruptedUpdate(files, kApp);
                } catch (const Crash&) {
                }
                files.crashed = false;
                RecoverInterruptedUpdate(files, kApp);
                EXPECT_EQ(AppFolder(files), committed ? kAllNew : kAllOld)
                    << "crash at " << crashAt << ", then " << recoveryCrashAt << ", times kept to " << resolution;
                EXPECT_TRUE(files.locks.empty());
                if (walkDone) {
                    break;
                }
            }
            if (walkDone) {
                EXPECT_GT(crashAt, 15);
                break;
            }
        }
    }
}

// What a lock answers (a sharing or lock violation, or access denied on a
// file the main program is still closing) is waited out, briefly or for the
// whole schedule; access denied on a read-only file is no lock and fails at once.
TEST(Transaction, TransientLocksAreWaitedOutAndLastingOnesFailWithNothingChanged) {
    struct Case {
        const wchar_t* path;
        std::int32_t number;
        int times;  // -1: for good
        bool readOnly;
        std::vector<int> pauses;
    };
    const std::wstring two = L"C:\\App\\two.dll";
    const std::wstring three = std::wstring(FakeMachine::kUpdate) + L"\\three.dll";
    const std::vector<int> all(std::begin(kRetryPauses), std::end(kRetryPauses));
    const std::vector<Case> cases = {
        {two.c_str(), kErrSharingViolation, 3, false, {50, 100, 200}},
        {two.c_str(), kErrLockViolation, 3, false, {50, 100, 200}},
        {two.c_str(), kErrAccessDenied, 3, false, {50, 100, 200}},
        {three.c_str(), kErrSharingViolation, -1, false, all},
        {three.c_str(), kErrLockViolation, -1, false, all},
        {two.c_str(), kErrAccessDenied, -1, false, all},
        {two.c_str(), kErrAccessDenied, 1, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.number << " x" << c.times << (c.readOnly ? " read-only" : ""));
        FakeMachine machine;
        Prepare(machine).files.locked[c.path] = c.times;
        machine.files.lockNumber = c.number;
        machine.files.files[two].readOnly = c.readOnly;
        machine.form.Load();
        machine.form.Command1_Click();
        EXPECT_EQ(machine.files.pauses, c.pauses);
        if (c.times > 0 && !c.readOnly) {
            EXPECT_EQ(AppFolder(machine.files), kAllNew);
        } else {
            EXPECT_EQ(AppFolder(machine.files), kAllOld);
            EXPECT_THAT(machine.journal.back(), HasSubstr(L"Run-time error '" + std::to_wstring(c.number) + L"'"));
        }
    }
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

// Setups real installs have: each applies, or fails with nothing changed.
TEST(Transaction, RealInstallsApplyAsTheyStand) {
    const std::wstring source = std::wstring(FakeMachine::kUpdate) + L"\\a.dll";
    struct Case {
        const char* what;
        std::function<void(FakeMachine&)> arrange;
        Folder after;
        std::int32_t error = 0;
    };
    const Folder applied = {{L"a.dll", {"new a", false}}, {L"OLDa.dll", {"old a", false}}};
    const std::vector<Case> cases = {
        {"orphan backup",
         [](FakeMachine& m) { m.AppFile(L"OLDa.dll", "older a"); },
         {{L"a.dll", {"new a", false}}, {L"OLDa.dll", {"older a", false}}}},
        {"read-only current and backup",
         [](FakeMachine& m) {
             m.AppFile(L"a.dll", "old a");
             m.AppFile(L"OLDa.dll", "older a");
             m.files.files[L"C:\\App\\a.dll"].readOnly = true;
             m.files.files[L"C:\\App\\OLDa.dll"].readOnly = true;
         },
         applied},
        {"coarse times",
         [](FakeMachine& m) {
             m.AppFile(L"a.dll", "old a");
             m.files.timeResolution = 20'000'000;
             m.files.files[std::wstring(FakeMachine::kUpdate) + L"\\a.dll"].modified += 3'333'333;
         },
         applied},
        {"stray set-aside backup",
         [](FakeMachine& m) {
             m.AppFile(L"a.dll", "old a");
             m.AppFile(L"OLDa.dll", "older a");
             m.AppFile(L"OLDa.dll.tessaloom-old", "oldest a");
         },
         applied},
        {"changed while copied",
         [&](FakeMachine& m) {
             m.AppFile(L"a.dll", "old a");
             m.files.changing.insert(source);
         },
         {{L"a.dll", {"old a", false}}},
         kErrPathFileAccess},
        {"new subfolder, then a failure",
         [&](FakeMachine& m) {
             m.List("path\r\nnewsub\\b.dll\r\na.dll\r\n");
             m.NewFile(L"newsub\\b.dll", "new b");
             m.files.changing.insert(source);
         },
         {},
         kErrPathFileAccess},
        {"working names too long",
         [](FakeMachine& m) {
             const std::wstring name(236, L'x');
             m.List("path\r\n" + std::string(236, 'x') + "\r\na.dll\r\n");
             m.NewFile(name, "new x");
         },
         {},
         kErrNameTooLong},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeMachine machine;
        machine.List("path\r\na.dll\r\n");
        machine.NewFile(L"a.dll", "new a");
        c.arrange(machine);
        machine.form.Load();
        const std::size_t before = machine.journal.size();
        machine.form.Command1_Click();
        EXPECT_EQ(AppFolder(machine.files), c.after);
        for (const auto& [path, file] : machine.files.files) {
            EXPECT_FALSE(path.starts_with(L"C:\\App\\") && file.readOnly) << "an ordinary file: " << path;
        }
        EXPECT_FALSE(machine.files.Facts(L"C:\\App\\newsub").folder);
        EXPECT_FALSE(machine.process.claimedAtStart);
        if (c.error != 0) {
            EXPECT_THAT(machine.journal.back(), HasSubstr(L"Run-time error '" + std::to_wstring(c.error) + L"'"));
            if (c.error == kErrNameTooLong) {
                EXPECT_THAT(WithoutLog(Journal(machine.journal.begin() + static_cast<std::ptrdiff_t>(before),
                                               machine.journal.end())),
                            ElementsAre(machine.journal.back()))
                    << "refused before anything was written";
            }
        } else {
            // The log is written before the main program starts.
            EXPECT_THAT(Journal(machine.journal.end() - 2, machine.journal.end()),
                        ElementsAre(HasSubstr(L"TessaloomUpdate.log"), kStart));
        }
    }
}

// Crashes a walk of Prepare's names just as its `rename`-th rename after the
// commit phase reached the disk was to happen.
void CrashCommitting(FakeMachine& machine, int rename) {
    Journal changes;
    FakeFiles clean(changes);
    clean.files = machine.files.files;
    clean.vanishing = machine.files.vanishing;
    Walk(clean);
    auto phase = changes.begin();
    for (int write = 0; write < kCommitPhaseWrite; ++write) {
        phase = std::find(write == 0 ? changes.begin() : phase + 1, changes.end(), kPhaseWrite);
    }
    machine.files.crashAt = static_cast<int>(phase - changes.begin()) + 1 + rename;
    EXPECT_THROW(Walk(machine.files), Crash);
    machine.files.crashed = false;
    machine.files.crashAt = 0;
    machine.journal.clear();
}

struct Steps final : UpdateEvents {
    std::vector<std::pair<Step, std::wstring>> steps;
    void Did(Step step, const std::wstring& name) override { steps.emplace_back(step, name); }
    void Retrying(const std::wstring&, const RuntimeError&, int) override {}
    [[nodiscard]] std::vector<std::wstring> Named(Step step) const {
        std::vector<std::wstring> names;
        for (const auto& [done, name] : steps) {
            if (done == step) {
                names.push_back(name);
            }
        }
        return names;
    }
};

// A folder changed since the crash: the entry that can no longer be
// finished safely is left as it now stands, the rest is finished, and the
// next walk applies everything.
TEST(Recovery, AFolderChangedSinceTheCrashIsAbandonedNeverOverwritten) {
    struct Case {
        const char* what;
        int crashAtRename;
        std::function<void(FakeFiles&)> change;
        const wchar_t* abandoned;
        Folder after;  // what differs from all-new
    };
    const std::vector<Case> cases = {
        {"a current file where none was",
         1,
         [](FakeFiles& f) { f.files[L"C:\\App\\one.dll"] = {.content = "someone's one", .modified = 1}; },
         L"one.dll",
         {{L"one.dll", {"someone's one", false}}}},
        {"a current file reinstalled",
         1,
         [](FakeFiles& f) { f.files[L"C:\\App\\two.dll"] = {.content = "reinstalled", .modified = 1}; },
         L"two.dll",
         {{L"two.dll", {"reinstalled", false}}, {L"OLDtwo.dll", {"older two", false}}}},
        {"a staged file missing",
         1,
         [](FakeFiles& f) { f.files.erase(L"C:\\App\\one.dll.tessaloom-new"); },
         L"one.dll",
         {{L"one.dll", {"<absent>", false}}}},
        {"a backup beside the set-aside one",
         3,
         [](FakeFiles& f) { f.files[L"C:\\App\\OLDtwo.dll"] = {.content = "someone's backup", .modified = 1}; },
         L"two.dll",
         {{L"two.dll", {"old two", false}},
          {L"OLDtwo.dll", {"someone's backup", false}},
          {L"OLDtwo.dll.tessaloom-old", {"older two", false}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeMachine machine;
        FakeFiles& files = Prepare(machine).files;
        CrashCommitting(machine, c.crashAtRename);
        c.change(files);
        Steps steps;
        RecoverInterruptedUpdate(files, kApp, &steps);
        Folder expected = kAllNew;
        for (const auto& [name, file] : c.after) {
            if (file.first == "<absent>") {
                expected.erase(name);
            } else {
                expected[name] = file;
            }
        }
        EXPECT_EQ(AppFolder(files), expected);
        EXPECT_THAT(steps.Named(UpdateEvents::Step::Abandoned), ElementsAre(c.abandoned));
        EXPECT_FALSE(files.Facts(kJournal).exists);

        Walk(files);  // never an error on every later walk
        for (const wchar_t* name : {L"one.dll", L"two.dll", L"three.dll", L"sub\\four.dll"}) {
            EXPECT_EQ(AppFolder(files).at(name).first, kAllNew.at(name).first) << name;
        }
    }
}

// A new file that vanished before it was staged is marked in the journal:
// recovery neither looks for it nor calls its entry abandoned.
TEST(Recovery, ANewFileThatVanishedIsNotLookedForAfterACrash) {
    FakeMachine machine;
    Prepare(machine).files.vanishing.insert(std::wstring(FakeMachine::kUpdate) + L"\\one.dll");
    CrashCommitting(machine, 1);
    Steps steps;
    RecoverInterruptedUpdate(machine.files, kApp, &steps);
    Folder expected = kAllNew;
    expected.erase(L"one.dll");
    EXPECT_EQ(AppFolder(machine.files), expected);
    EXPECT_THAT(steps.Named(UpdateEvents::Step::Abandoned), ElementsAre());
}

// A walk finishes an interrupted update before it plans its own.
TEST(Recovery, PlanFinishesAnInterruptedUpdateFirst) {
    FakeMachine machine;
    FakeFiles& files = Prepare(machine).files;
    CrashCommitting(machine, 2);
    Steps steps;
    UpdateTransaction update(files, kApp, FakeMachine::kUpdate, &steps);
    update.Plan({L"one.dll", L"two.dll"});
    EXPECT_THAT(steps.Named(UpdateEvents::Step::RecoveryFinished), ElementsAre(kJournal));
    EXPECT_THAT(steps.Named(UpdateEvents::Step::Identical), ElementsAre(L"one.dll", L"two.dll"));
    EXPECT_EQ(AppFolder(files), kAllNew);
}

// A journal is trusted no further than it can be checked; one of the
// updater before this one still recovers (and keeps an orphan backup).
TEST(Recovery, ADamagedJournalIsKeptReportedAndNeverActedOn) {
    const std::string entry = "-- 5 1 0 0 0 0 one.dll\r\n";
    const std::vector<std::string> damaged = {
        "TessaloomUpdate journal 2\r\nphase C\r\n" + entry.substr(0, 12),
        "TessaloomUpdate journal 2\r\nphase C\r\n" + entry,
        "TessaloomUpdate journal 2\r\nphase Q\r\n" + entry + "end\r\n",
        "TessaloomUpdate journal 2\r\nphase C\r\n-- 5 1 0 0 0 0 ..\\x.dll\r\nend\r\n",
        "TessaloomUpdate journal 2\r\nphase C\r\n-- 5 1 0 0 0 0 C:\\x.dll\r\nend\r\n",
        "TessaloomUpdate journal 2\r\nphase C\r\n-- 5 1 0 0 x 0 one.dll\r\nend\r\n",
        "TessaloomUpdate journal 2\r\nphase C\r\n" + entry + "end\r\nmore",
        "TessaloomUpdate journal 9\r\nphase C\r\n" + entry + "end\r\n",
        "",
    };
    for (const std::string& text : damaged) {
        SCOPED_TRACE(text);
        FakeMachine machine;
        machine.files.files[kJournal] = {text};
        machine.AppFile(L"one.dll.tessaloom-new", "new 1");
        machine.AppFile(L"one.dll", "old");
        const auto before = machine.files.files;
        Steps steps;
        EXPECT_EQ(ErrorNumber([&] { RecoverInterruptedUpdate(machine.files, kApp, &steps); }), kErrBadFileFormat);
        EXPECT_EQ(machine.files.files.size(), before.size());
        EXPECT_EQ(machine.files.files[kJournal].content, text);
        EXPECT_EQ(machine.App(L"one.dll"), "old");
        EXPECT_THAT(steps.Named(UpdateEvents::Step::JournalDamaged), ElementsAre(kJournal));
        EXPECT_EQ(FindInterruptedUpdate(machine.files, kApp), Interrupted::Damaged);
    }
    FakeMachine older;
    older.files.files[kJournal] = {"TessaloomUpdate journal 1\r\nphase C\r\n-B 5 7 one.dll\r\nend\r\n"};
    older.AppFile(L"one.dll.tessaloom-new", "new 1");
    older.files.files[L"C:\\App\\one.dll.tessaloom-new"].modified = 7;
    older.AppFile(L"OLDone.dll", "the only previous version");
    EXPECT_EQ(FindInterruptedUpdate(older.files, kApp), Interrupted::Committing);
    RecoverInterruptedUpdate(older.files, kApp);
    EXPECT_EQ(AppFolder(older.files),
              (Folder{{L"one.dll", {"new 1", false}}, {L"OLDone.dll", {"the only previous version", false}}}));
}

// One transaction at a time, whoever runs it: while one commits, neither a
// second walk nor another instance's recovery touches its journal.
TEST(Transaction, OneAtATimeWhoeverRunsIt) {
    FakeMachine machine;
    FakeFiles& files = Prepare(machine).files;
    UpdateTransaction first(files, kApp, FakeMachine::kUpdate);
    first.Plan({L"one.dll", L"two.dll", L"three.dll", L"sub\\four.dll"});
    for (std::size_t i = 0; i < 4; ++i) {
        first.Stage(i, [] {});
    }
    const auto live = files.files;
    EXPECT_EQ(ErrorNumber([&] { RecoverInterruptedUpdate(files, kApp); }), kErrSharingViolation);
    EXPECT_EQ(ErrorNumber([&] {
                  UpdateTransaction second(files, kApp, FakeMachine::kUpdate);
                  second.Plan({L"one.dll"});
              }),
              kErrSharingViolation);
    EXPECT_EQ(files.files.size(), live.size());
    EXPECT_EQ(files.pauses.size(), 2 * std::size(kRetryPauses));
    first.Commit();
    EXPECT_EQ(AppFolder(files), kAllNew);
    EXPECT_TRUE(files.locks.empty());
}

// At start, before anything else: an interrupted commit is finished, with
// administrator rights where needed, or the main program is not started over
// it; staged files alone never keep it from starting. A commit that another
// session's updater is running is no interruption, and a claim squatted by
// another program keeps nothing from starting.
TEST(Recovery, AtStartItComesFirstAndNeverLeavesTheMainProgramOnAHalfCommittedInstall) {
    enum Outcome { kStarted, kShown, kErrorBox, kSteppedAside, kLeftToItsUpdater };
    constexpr wchar_t kLock[] = L"C:\\App\\TessaloomUpdate.lock";
    struct Case {
        const char* what;
        bool committing;
        std::function<void(FakeMachine&)> arrange;
        Outcome outcome;
        int asks;
    };
    const std::vector<Case> cases = {
        {"no list", true, [](FakeMachine& m) { m.files.files.erase(FakeMachine::kList); }, kStarted, 0},
        {"locked for good", true, [](FakeMachine& m) { m.files.locked[L"C:\\App\\two.dll"] = -1; }, kErrorBox, 0},
        {"not writable", true,
         [](FakeMachine& m) {
             m.files.files.erase(FakeMachine::kList);
             m.elevation.writable = false;
         },
         kStarted, 1},
        {"not writable, declined", true,
         [](FakeMachine& m) {
             m.elevation.writable = false;
             m.elevation.declined = true;
         },
         kErrorBox, 1},
        {"not writable, a rollback cut short, declined", true,
         [](FakeMachine& m) {
             std::string& journal = m.files.files[kJournal].content;
             journal.replace(journal.find("phase C"), 7, "phase U");
             m.elevation.writable = false;
             m.elevation.declined = true;
         },
         kErrorBox, 1},
        {"staged only, locked for good", false,
         [](FakeMachine& m) {
             m.files.files.erase(FakeMachine::kList);
             m.files.locked[L"C:\\App\\one.dll.tessaloom-new"] = -1;
         },
         kStarted, 0},
        {"staged only, not writable", false,
         [](FakeMachine& m) {
             m.files.files.erase(FakeMachine::kList);
             m.elevation.writable = false;
         },
         kStarted, 0},
        {"another updater of this session at work", true, [](FakeMachine& m) { m.process.otherUpdaterRunning = true; },
         kSteppedAside, 0},
        // Reported across the pipe: an abandoned entry, and a damaged journal with what to do.
        {"not writable, a file changed since", true,
         [](FakeMachine& m) {
             m.files.files.erase(FakeMachine::kList);
             m.elevation.writable = false;
             m.files.files[L"C:\\App\\one.dll"] = {.content = "someone's one", .modified = 1};
         },
         kStarted, 1},
        {"not writable, the journal damaged", true,
         [](FakeMachine& m) {
             m.elevation.writable = false;
             m.files.files[kJournal].content = "TessaloomUpdate journal 3\r\nphase C\r\ngarbled";
         },
         kErrorBox, 1},
        {"the claim squatted", true,
         [](FakeMachine& m) {
             m.files.files.erase(FakeMachine::kList);
             m.process.squatted = true;
         },
         kStarted, 0},
        {"the claim squatted, a list", true, [](FakeMachine& m) { m.process.squatted = true; }, kShown, 0},
        {"another session's updater committing", true,
         [&](FakeMachine& m) {
             m.files.files.erase(FakeMachine::kList);
             m.files.locks.insert(kLock);
         },
         kLeftToItsUpdater, 0},
        {"another session's updater committing, not writable", true,
         [&](FakeMachine& m) {
             m.files.files.erase(FakeMachine::kList);
             m.files.locks.insert(kLock);
             m.elevation.writable = false;
         },
         kLeftToItsUpdater, 0},
        {"another session's updater staging", false,
         [&](FakeMachine& m) {
             m.files.files.erase(FakeMachine::kList);
             m.files.locks.insert(kLock);
         },
         kLeftToItsUpdater, 0},
        {"a lock file a power cut left", true,
         [&](FakeMachine& m) {
             m.files.files.erase(FakeMachine::kList);
             m.files.files[kLock] = {};
         },
         kStarted, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeMachine machine;
        Prepare(machine);
        if (c.committing) {
            CrashCommitting(machine, 1);
        } else {
            machine.files.crashAt = 5;  // staging three.dll
            EXPECT_THROW(Walk(machine.files), Crash);
            machine.files.crashed = false;
            machine.files.crashAt = 0;
            machine.journal.clear();
        }
        c.arrange(machine);
        machine.form.Load();
        const Journal& journal = machine.journal;
        const auto start = std::find(journal.begin(), journal.end(), kStart);
        EXPECT_EQ(start != journal.end(), c.outcome == kStarted || c.outcome == kLeftToItsUpdater);
        if (c.outcome == kLeftToItsUpdater) {
            EXPECT_THAT(WithoutLog(journal), ElementsAre(kStart)) << "nothing of its update was touched";
            EXPECT_TRUE(machine.files.Facts(kJournal).exists);
            EXPECT_TRUE(machine.files.pauses.empty()) << "nor was it waited for";
        }
        EXPECT_EQ(std::count(journal.begin(), journal.end(), L"ask for administrator rights"), c.asks);
        if ((c.outcome == kStarted || c.outcome == kShown) && c.committing) {
            Folder expected = kAllNew;
            if (machine.App(L"one.dll") == "someone's one") {
                expected[L"one.dll"] = {"someone's one", false};
            }
            EXPECT_EQ(AppFolder(machine.files), expected);
            EXPECT_LT(std::find(journal.begin(), journal.end(), L"remove " + std::wstring(kJournal)), start);
        }
        EXPECT_EQ(machine.view.model.Shown(), c.outcome == kShown);
        if (c.outcome == kErrorBox || c.outcome == kSteppedAside) {
            EXPECT_THAT(journal.back(), c.outcome == kErrorBox ? HasSubstr(L"error Setup: Run-time error")
                                                               : HasSubstr(L"activate the other updater"));
            EXPECT_THAT(journal.back(), Not(HasSubstr(L"Internal error")));
            if (c.outcome == kErrorBox) {
                const auto log = machine.files.files.find(std::wstring(FakeMachine::kUpdate) + L"\\TessaloomUpdate.log");
                EXPECT_TRUE(log != machine.files.files.end() && log->second.content.find("Update failed: error ") != npos)
                    << "the failure is in the log";
            }
            EXPECT_TRUE(machine.files.Facts(kJournal).exists);
            EXPECT_FALSE(machine.form.Running());
        }
    }
}

}  // namespace
}  // namespace tessaloom::test

namespace tessaloom::test {
namespace {

// Every move list (a new file alone, with a current file, with an earlier
// backup too, in a new subfolder) crashed before each change of its walk,
// then again at each change of the recovery that follows: one right outcome
// per cell, all-old until the commit phase is on disk, all-new after it.
TEST(Recovery, EveryMoveListCrashedAtEveryStepTwice) {
    struct Shape {
        const char* what;
        const wchar_t* name;
        std::vector<std::pair<std::wstring, std::string>> before;  // in the application folder
    };
    const std::vector<Shape> shapes = {
        {"new file alone", L"a.dll", {}},
        {"current file", L"a.dll", {{L"a.dll", "old a"}}},
        {"current file and earlier backup", L"a.dll", {{L"a.dll", "old a"}, {L"OLDa.dll", "older a"}}},
        {"new subfolder", L"sub\\a.dll", {}},
    };
    int cells = 0;
    for (const Shape& shape : shapes) {
        const auto run = [&](int crashAt, int recoveryCrashAt) {
            FakeMachine machine;
            machine.NewFile(shape.name, "new a");
            for (const auto& [name, content] : shape.before) {
                machine.AppFile(name, content);
            }
            Folder before = AppFolder(machine.files);
            FakeFiles& files = machine.files;
            files.crashAt = crashAt;
            bool done = true;
            try {
                UpdateTransaction update(files, kApp, FakeMachine::kUpdate);
                ApplyUpdate(
                    update, {shape.name}, [](std::size_t) {}, [] {});
            } catch (const Crash&) {
                done = false;
            }
            const bool committed =
                std::count(machine.journal.begin(), machine.journal.end(), kPhaseWrite) >= kCommitPhaseWrite;
            const int walkChanges = files.changes;
            files.crashed = false;
            files.crashAt = recoveryCrashAt == 0 ? 0 : files.changes + recoveryCrashAt;
            try {
                RecoverInterruptedUpdate(files, kApp);
            } catch (const Crash&) {
            }
            const bool recoveryDone = files.changes - walkChanges < recoveryCrashAt || recoveryCrashAt == 0;
            files.crashed = false;
            files.crashAt = 0;
            RecoverInterruptedUpdate(files, kApp);
            Folder expected = before;
            if (committed) {
                if (const auto current = before.find(shape.name); current != before.end()) {
                    expected[BackupName(shape.name)] = current->second;
                }
                expected[shape.name] = {"new a", false};
            }
            EXPECT_EQ(AppFolder(files), expected)
                << shape.what << ": crash at " << crashAt << ", then " << recoveryCrashAt;
            EXPECT_FALSE(files.Facts(kJournal).exists);
            ++cells;
            return std::pair(done, recoveryDone);
        };
        bool walkDone = false;
        for (int crashAt = 1; !walkDone; ++crashAt) {
            bool recoveryDone = false;
            for (int recoveryCrashAt = 0; !recoveryDone || recoveryCrashAt < 2; ++recoveryCrashAt) {
                std::tie(walkDone, recoveryDone) = run(crashAt, recoveryCrashAt);
                recoveryDone = recoveryDone && recoveryCrashAt > 0;
            }
        }
    }
    RecordProperty("cells", cells);
    EXPECT_GT(cells, 100);
}

// Telling the new file from the old one: by content, whatever the times say.
// A new file with the old one's size and time is still undone when a later
// file fails; on a volume that keeps local times, a time-zone change between
// a crash and the next start moves every time by whole hours, and that is
// no change to the file.
TEST(Recovery, NewAndOldAreToldApartByContentNotByTime) {
    // Each rename of the commit fails, and the undoing dies at each step or not at all.
    Journal changes;
    FakeFiles clean(changes);
    for (int failAt = 1; failAt == 1 || failAt <= static_cast<int>(changes.size()); ++failAt) {
        for (int dying = 0; dying < 24; ++dying) {
            FakeMachine machine;
            Prepare(machine);
            machine.NewFile(L"two.dll", "new two");  // the size of "old two"
            machine.files.files[std::wstring(FakeMachine::kUpdate) + L"\\two.dll"].modified =
                machine.files.files[L"C:\\App\\two.dll"].modified;
            if (failAt == 1 && dying == 0) {
                clean.files = machine.files.files;
                Walk(clean);
            }
            if (!changes[static_cast<std::size_t>(failAt) - 1].starts_with(L"rename")) {
                break;
            }
            machine.files.failAt = failAt;
            machine.files.crashAt = dying == 0 ? 0 : failAt + dying;
            EXPECT_ANY_THROW(Walk(machine.files));
            const auto journal = machine.files.files.find(kJournal);
            const bool undoing =
                journal == machine.files.files.end() || journal->second.content.find("phase C") == npos;
            machine.files.crashed = false;
            machine.files.failAt = machine.files.crashAt = 0;
            RecoverInterruptedUpdate(machine.files, kApp);
            Folder expected = undoing ? kAllOld : kAllNew;
            expected[L"two.dll"].first = undoing ? "old two" : "new two";
            EXPECT_EQ(AppFolder(machine.files), expected)
                << "failing " << changes[static_cast<std::size_t>(failAt) - 1] << ", dying " << dying << " later";
        }
    }
    const std::uint64_t kHour = 36'000'000'000;
    const struct {
        bool localTimes;
        std::uint64_t moved;
        bool abandoned;
    } cases[] = {{true, kHour, false}, {true, 5 * kHour / 4, false}, {true, kHour + 1, true}, {false, kHour, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "local times " << c.localTimes << ", moved " << c.moved);
        FakeMachine machine;
        FakeFiles& files = Prepare(machine).files;
        files.volume.localTimes = c.localTimes;
        CrashCommitting(machine, 1);
        for (const wchar_t* name : {L"C:\\App\\two.dll", L"C:\\App\\OLDtwo.dll", L"C:\\App\\three.dll"}) {
            files.files[name].modified -= c.moved;
        }
        Steps steps;
        RecoverInterruptedUpdate(files, kApp, &steps);
        EXPECT_EQ(steps.Named(UpdateEvents::Step::Abandoned).size(), c.abandoned ? 2U : 0U);
        if (!c.abandoned) {
            EXPECT_EQ(AppFolder(files).at(L"two.dll").first, "new two.dll");
        }
    }
}

// What a complete update left to tidy (an earlier backup still loaded by a
// running program) is tried again quietly at each start and never keeps the
// main program from starting, nor asks for rights; a journal held for a
// moment is waited out, not taken for an interrupted commit.
TEST(Recovery, WhatIsLeftToTidyOrBrieflyHeldNeverKeepsTheMainProgramFromStarting) {
    const wchar_t* const aside = L"C:\\App\\OLDtwo.dll.tessaloom-old";
    const struct {
        const char* what;
        bool writable;
        bool released;
        bool backupRemoved = false;  // by the user, before the next start
    } cases[] = {{"still held", true, false},
                 {"not writable", false, false},
                 {"released", true, true},
                 {"released, the backup removed", true, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeMachine machine;
        FakeFiles& files = Prepare(machine).files;
        files.locked[aside] = -1;
        machine.form.Load();
        machine.form.Command1_Click();
        EXPECT_EQ(std::count(machine.journal.begin(), machine.journal.end(), kStart), 1);
        EXPECT_EQ(FindInterruptedUpdate(files, kApp), Interrupted::Tidying);
        machine.journal.clear();
        files.files.erase(FakeMachine::kList);
        files.locked[aside] = c.released ? 0 : -1;
        if (c.backupRemoved) {
            files.files.erase(L"C:\\App\\OLDtwo.dll");
        }
        machine.elevation.writable = c.writable;
        FakeMachine& next = machine;
        Form1 again(next.PlatformFor(next.view));
        again.Load();
        EXPECT_THAT(machine.journal, Contains(kStart));
        EXPECT_THAT(machine.journal, Not(Contains(L"ask for administrator rights")));
        EXPECT_EQ(files.Facts(kJournal).exists, !c.released);
        EXPECT_EQ(files.Facts(aside).exists, !c.released);
        EXPECT_EQ(AppFolder(files).at(L"two.dll").first, "new two.dll");
    }
    for (const int held : {3, -1}) {
        FakeMachine machine;
        machine.files.files[kJournal] = {"TessaloomUpdate journal 3\r\nphase S\r\nend\r\n"};
        machine.files.locked[kJournal] = held;
        EXPECT_EQ(FindInterruptedUpdate(machine.files, kApp),
                  held > 0 ? Interrupted::Staging : Interrupted::Committing);
        EXPECT_EQ(machine.files.pauses.size(), held > 0 ? 3U : std::size(kRetryPauses));
    }
}

// A list naming both a file and its backup is refused before anything is
// written; on a volume that keeps no log of its folders' entries, the
// folders are flushed after the renames and before the journal says they
// are done.
TEST(Transaction, ABackupListedAsANameIsRefusedAndFatFoldersAreFlushedBeforeTheJournalGoes) {
    FakeMachine refused;
    refused.NewFile(L"one.dll", "new one");
    refused.NewFile(L"OLDone.dll", "new old one");
    refused.AppFile(L"one.dll", "old one");
    const auto before = refused.files.files;
    UpdateTransaction update(refused.files, kApp, FakeMachine::kUpdate);
    EXPECT_EQ(ErrorNumber([&] { update.Plan({L"one.dll", L"OLDone.dll"}); }), kErrPathFileAccess);
    EXPECT_EQ(refused.files.files.size(), before.size());

    for (const bool logged : {true, false}) {
        FakeMachine machine;
        FakeFiles& files = Prepare(machine).files;
        files.volume.loggedEntries = logged;
        Walk(files);
        const Journal& journal = machine.journal;
        const auto flush = std::find(journal.begin(), journal.end(), L"flush folder C:\\App");
        EXPECT_EQ(flush != journal.end(), !logged);
        EXPECT_EQ(std::count(journal.begin(), journal.end(), L"flush folder C:\\App\\sub"), logged ? 0 : 1);
        if (!logged) {
            const auto lastRename = std::find_if(journal.rbegin(), journal.rend(), [](const std::wstring& change) {
                return change.starts_with(L"rename");
            });
            EXPECT_LE(lastRename.base() - journal.begin(), flush - journal.begin());
            EXPECT_NE(std::find(flush, journal.end(), kPhaseWrite), journal.end());
        }
        EXPECT_EQ(AppFolder(files), kAllNew);
    }
}

}  // namespace
}  // namespace tessaloom::test
