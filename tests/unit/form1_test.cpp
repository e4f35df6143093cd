// The update run from start-up to close, on fakes of the machine.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/command_line.h"
#include "fakes.h"

namespace tessaloom::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr wchar_t kStart[] = L"start \"C:\\App\\Tessaloom Main.exe\"";

TEST(Startup, ThemesAndRegistersEvenWithoutACommandLine) {
    for (const bool listed : {false, true}) {
        for (const wchar_t* line : {L"", L"    "}) {
            FakeMachine machine(line);
            if (listed) {
                machine.List("path\r\none.dll\r\n");
                machine.NewFile(L"one.dll", "new");
            }
            machine.form.Load();
            EXPECT_FALSE(machine.form.Running());
            EXPECT_FALSE(machine.view.model.Shown());
            EXPECT_THAT(machine.view.model.At(kList).lines, IsEmpty()) << "no update looked for";
            EXPECT_THAT(machine.journal, IsEmpty()) << "nothing read, started or shown";
            for (const wchar_t* name : {L"Form1", L"Command1", L"Command2", L"Frame1_up"}) {
                EXPECT_EQ(machine.view.model.At({name}).backColour, 0x00E1D7C2U) << "light: " << name;
            }
            for (int index = 0; index <= 2; ++index) {
                EXPECT_EQ(machine.view.model.At({L"Shape1_up", index}).borderColour, 0x00C1AC7FU) << index;
            }
            ASSERT_EQ(machine.registry.calls.size(), 1U);
            EXPECT_EQ(machine.registry.calls[0].first, L"C:\\App\\TessaloomUpdate");
            EXPECT_EQ(machine.registry.calls[0].second, L"C:\\App\\TessaloomUpdate.EXE");
        }
    }
}

TEST(Startup, WithoutAListStartsTheTargetAtOnceAndNeverShows) {
    for (const wchar_t* line : {L" C:\\App\\Tessaloom Main.exe", L"  \"C:\\App\\Tessaloom Main.exe\" "}) {
        FakeMachine machine(line);
        machine.form.Load();
        EXPECT_THAT(machine.journal, ElementsAre(kStart));
        EXPECT_EQ(machine.files.currentFolder, L"C:\\App");
        EXPECT_FALSE(machine.form.Running());
        EXPECT_FALSE(machine.view.model.Shown());
    }
}

TEST(Startup, SplitsArgumentsButStartsTheWholeTrimmedLine) {
    FakeMachine machine(L"   one    two  ");
    machine.form.Load();
    EXPECT_EQ(ProcessArguments().CommandArgCount, 2);
    EXPECT_EQ(ProcessArguments().CommandArgs[2], L"two");
    EXPECT_EQ(machine.form.TargetCommand, L"\"one    two\"");
    EXPECT_THAT(machine.journal, ElementsAre(HasSubstr(L"error Setup: Run-time error '2'")));
    EXPECT_FALSE(machine.form.Running());
}

TEST(Startup, OnlyQuotesEndQuietly) {
    FakeMachine machine(L" \"\" ");
    machine.form.Load();
    EXPECT_THAT(machine.journal, IsEmpty());
    EXPECT_FALSE(machine.form.Running());
}

TEST(Discovery, ListsPresentPlainNamesInListOrder) {
    FakeMachine machine;
    machine.List(
        "\\\\server\\share\r\nb.dll\r\nmissing.txt\r\na.exe\r\n\r\n..\\evil.dll\r\nC:\\Windows\\x.dll\r\n*.dll\r\n"
        "sub\\c.dat\r\nb.dll\r\nhidden.dll\r\nsub\r\n");
    for (const wchar_t* name : {L"a.exe", L"b.dll", L"sub\\c.dat", L"hidden.dll"}) {
        machine.NewFile(name, "new");
    }
    machine.files.files[std::wstring(FakeMachine::kUpdate) + L"\\hidden.dll"].hidden = true;
    machine.files.files[L"C:\\Docs\\My TessaloomSaaS Projects\\evil.dll"] = {"evil"};
    machine.form.Load();

    EXPECT_TRUE(machine.form.Running());
    EXPECT_TRUE(machine.view.model.Shown());
    EXPECT_THAT(machine.form.PendingFiles, ElementsAre(L"b.dll", L"a.exe", L"sub\\c.dat", L"b.dll"));
    EXPECT_EQ(machine.view.model.At({L"List_up"}).lines, machine.form.PendingFiles);
    EXPECT_EQ(machine.form.UpdatePath, FakeMachine::kUpdate);
    EXPECT_EQ(machine.view.Width({L"ShapeprogressU", 0}), 0.0F);
    EXPECT_THAT(machine.journal, IsEmpty()) << "nothing applied or started before a choice";
}

TEST(Discovery, AnEmptyOrHiddenListIsNoList) {
    FakeMachine empty;
    empty.List("");
    empty.form.Load();
    EXPECT_THAT(empty.journal, ElementsAre(kStart));

    FakeMachine hidden;
    hidden.List("path\r\na.exe\r\n");
    hidden.files.files[FakeMachine::kList].hidden = true;
    hidden.NewFile(L"a.exe", "new");
    hidden.form.Load();
    EXPECT_THAT(hidden.journal, ElementsAre(kStart));
}

TEST(Discovery, ListsOfAnyLengthWork) {
    FakeMachine machine;
    std::string list = "path\r\n";
    for (int i = 0; i < 40000; ++i) {
        list += "f" + std::to_string(i) + ".bin\r\n";
    }
    machine.List(list);
    machine.NewFile(L"f39999.bin", "new");
    machine.form.Load();
    EXPECT_THAT(machine.form.PendingFiles, ElementsAre(L"f39999.bin"));
}

TEST(Applying, BacksUpReplacesAndMovesTheBarThenReportsBeforeStarting) {
    FakeMachine machine;
    machine.List("path\r\none.dll\r\ntwo.dll\r\nthree.dll\r\n");
    for (const wchar_t* name : {L"one.dll", L"two.dll", L"three.dll"}) {
        machine.NewFile(name, "new");
    }
    machine.AppFile(L"two.dll", "current");
    machine.AppFile(L"OLDtwo.dll", "older");
    machine.form.Load();
    machine.form.Command1_Click();

    EXPECT_EQ(machine.App(L"one.dll"), "new");
    EXPECT_EQ(machine.App(L"OLDone.dll"), "<absent>");
    EXPECT_EQ(machine.App(L"two.dll"), "new");
    EXPECT_EQ(machine.App(L"OLDtwo.dll"), "current");
    EXPECT_THAT(machine.view.fillWidths, ElementsAre(0.0F, 0.0F, 635.0F, 1270.0F, 1905.0F));
    EXPECT_EQ(machine.view.model.At({L"npercent_txt_up", 0}).caption, L"three.dll");
    EXPECT_FALSE(machine.view.model.At({L"Image13"}).visible) << "a fill wider than the cap hides it";
    EXPECT_EQ(machine.view.Left(kCap) + machine.view.Width(kCap), machine.view.Left(kFill) + machine.view.Width(kFill))
        << "the cap follows the fill's right edge";
    const Journal journal = WithoutLog(machine.journal);
    ASSERT_GE(journal.size(), 2U);
    EXPECT_EQ(journal.end()[-2], L"message UpdateTessaloom: Tessaloom updated with success");
    EXPECT_EQ(journal.back(), kStart);
    EXPECT_FALSE(machine.form.Running());
}

// The bar over lists that do not divide its 1905 twips evenly, and over the
// first applied file whose share is exactly the cap's 60 twips (4 of 127).
TEST(Applying, TheBarGrowsByExactSharesAndTheCapShowsOnceAShareIsNoWiderThanIt) {
    struct Case {
        int files;
        int vanished;  // leading files gone before the click
        std::vector<float> fills;
        bool capShown;
    };
    const std::vector<Case> cases = {
        {7, 0, {272.142857F, 544.285714F, 816.428571F, 1088.571429F, 1360.714286F, 1632.857143F, 1905.0F}, false},
        {127, 3, {60.0F, 75.0F, 90.0F}, true},
        {33, 0, {57.727272F, 115.454545F}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.files);
        FakeMachine machine;
        std::string list = "path\r\n";
        for (int i = 0; i < c.files; ++i) {
            list += "f" + std::to_string(i) + ".dll\r\n";
            machine.NewFile(L"f" + std::to_wstring(i) + L".dll", "new");
        }
        machine.List(list);
        machine.form.Load();
        for (int i = 0; i < c.vanished; ++i) {
            machine.files.files.erase(std::wstring(FakeMachine::kUpdate) + L"\\f" + std::to_wstring(i) + L".dll");
        }
        machine.form.Command1_Click();

        const std::vector<float>& fills = machine.view.fillWidths;
        ASSERT_EQ(fills.size(), static_cast<std::size_t>(c.files - c.vanished + 2));
        for (std::size_t i = 0; i < c.fills.size(); ++i) {
            EXPECT_FLOAT_EQ(fills[i + 2], c.fills[i]) << "after applied file " << i + 1;
        }
        for (const RecordingView::Frame& frame : machine.view.frames) {
            if (frame.fill > 0) {
                EXPECT_EQ(frame.capShown, c.capShown) << "fill " << frame.fill;
            }
            if (frame.capShown) {
                EXPECT_FLOAT_EQ(frame.capRight, frame.fillRight) << "fill " << frame.fill;
            }
        }
    }
}

TEST(Applying, SkipsVanishedFilesAndReportsOnlyWhenSomethingWasApplied) {
    FakeMachine some;
    some.List("path\r\none.dll\r\ntwo.dll\r\nthree.dll\r\n");
    for (const wchar_t* name : {L"one.dll", L"two.dll", L"three.dll"}) {
        some.NewFile(name, "new");
    }
    some.form.Load();
    some.files.files.erase(std::wstring(FakeMachine::kUpdate) + L"\\two.dll");
    some.dialogs.whileShown = [&] {
        EXPECT_EQ(some.view.paintedFill, 1905.0F) << "the full bar is painted before the box";
        EXPECT_EQ(some.view.paintedName, L"three.dll") << "the last file's name is painted before the box";
    };
    some.form.Command1_Click();
    EXPECT_THAT(some.view.fillWidths, ElementsAre(0.0F, 0.0F, 635.0F, 1905.0F));
    EXPECT_EQ(some.App(L"two.dll"), "<absent>");
    EXPECT_THAT(some.journal, ::testing::Contains(HasSubstr(L"updated with success")));

    FakeMachine none;
    none.List("path\r\none.dll\r\n");
    none.NewFile(L"one.dll", "new");
    none.form.Load();
    none.files.files.erase(std::wstring(FakeMachine::kUpdate) + L"\\one.dll");
    none.form.Command1_Click();
    EXPECT_THAT(WithoutLog(none.journal), ElementsAre(kStart));
    EXPECT_FALSE(none.form.Running());
}

TEST(Applying, ANameInASubfolderGoesToTheSameSubfolderWithItsBackupBesideIt) {
    FakeMachine machine;
    machine.List("path\r\nplugins\\x.dll\r\n");
    machine.NewFile(L"plugins\\x.dll", "new");
    machine.AppFile(L"plugins\\x.dll", "old");
    machine.form.Load();
    machine.form.Command1_Click();
    EXPECT_EQ(machine.App(L"plugins\\x.dll"), "new");
    EXPECT_EQ(machine.App(L"plugins\\OLDx.dll"), "old");
    EXPECT_THAT(machine.journal, ::testing::Contains(L"folder C:\\App\\plugins"));
}

TEST(Applying, ClicksQueuedDuringTheWorkDoNotStartItAgain) {
    FakeMachine machine;
    machine.List("path\r\none.dll\r\n");
    machine.NewFile(L"one.dll", "new");
    machine.AppFile(L"one.dll", "old");
    machine.form.Load();
    machine.dialogs.whileShown = [&] {
        machine.form.Command1_Click();
        machine.form.Command2_Click();
    };
    machine.form.Command1_Click();
    EXPECT_EQ(machine.App(L"OLDone.dll"), "old") << "a second walk would back the new file up over the old";
    EXPECT_EQ(std::count(machine.journal.begin(), machine.journal.end(), kStart), 1);
}

TEST(Closing, CancelStartsTheTargetTouchingNoFile) {
    FakeMachine machine;
    machine.List("path\r\none.dll\r\n");
    machine.NewFile(L"one.dll", "new");
    machine.form.Load();
    machine.form.Command2_Click();
    EXPECT_THAT(machine.journal, ElementsAre(kStart));
    EXPECT_EQ(machine.App(L"one.dll"), "<absent>");
    EXPECT_TRUE(machine.view.model.Unloaded());
}

TEST(SpecialFolders, OneObjectMadeOnFirstUseAndCreateNewforderReportsBadIds) {
    FakeMachine machine;
    SpecialFolder& first = machine.form.Special_Folder();
    EXPECT_EQ(&machine.form.Special_Folder(), &first);
    EXPECT_EQ(machine.specialFoldersMade, 1);
    EXPECT_EQ(machine.files.currentFolder, L"C:\\App");

    EXPECT_EQ(machine.form.CreateNewforder(5), L"C:\\Docs");
    EXPECT_EQ(machine.form.CreateNewforder(0x2B), L"");
    EXPECT_EQ(machine.form.CreateNewforder(999), L"");
    EXPECT_THAT(machine.journal, ElementsAre(L"message Setup: The folder does not exist",
                                             L"message Setup: An invalid folder ID was specified"));
}

}  // namespace
}  // namespace tessaloom::test
