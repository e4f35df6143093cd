// Applying where this user may not write: when the window asks for
// administrator rights, what declining leaves, and the elevated instance's
// reports moving the bar and filling the log, on fakes.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

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
        const std::wstring log = std::wstring(FakeMachine::kUpdate) + L"\\TessaloomUpdate.log";
        machine.files.files[log] = {"the previous walk"};
        machine.form.Load();
        machine.form.Command1_Click();
        EXPECT_EQ(std::count(machine.journal.begin(), machine.journal.end(), kAsk), c.asks);
        EXPECT_EQ(machine.App(L"two.dll"), c.two);
        if (c.declined) {
            EXPECT_TRUE(machine.form.Running()) << "the window stays open";
            EXPECT_EQ(machine.App(L"OLDtwo.dll"), "<absent>");
            EXPECT_THAT(machine.journal, Not(Contains(kStart)));
            machine.form.Command2_Click();
            EXPECT_EQ(machine.files.files[log + L".1"].content, "the previous walk") << "one walk, one log";
        }
        EXPECT_EQ(std::count(machine.journal.begin(), machine.journal.end(), kStart), 1) << "started unelevated";
    }
    // Declined, then accepted: the second attempt's log is its own.
    FakeMachine twice;
    twice.List("path\r\none.dll\r\n");
    twice.NewFile(L"one.dll", "new");
    twice.elevation.writable = false;
    twice.elevation.declined = true;
    twice.form.Load();
    twice.form.Command1_Click();
    twice.elevation.declined = false;
    twice.form.Command1_Click();
    const std::string& log =
        twice.files.files.at(std::wstring(FakeMachine::kUpdate) + L"\\TessaloomUpdate.log").content;
    EXPECT_THAT(log, Not(HasSubstr("declined")));
    EXPECT_THAT(twice.files.files.at(std::wstring(FakeMachine::kUpdate) + L"\\TessaloomUpdate.log.1").content,
                HasSubstr("declined"));

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
        // A Documents folder redirected to a share; never a share without a name.
        {L"\\\\server\\share\\Update", {}, true},
        {L"//server/share/Update", {}, true},
        {L"\\\\server", {}, false},
        {L"\\\\server\\\\Update", {}, false},
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

// The elevated instance's end of the pipe, scripted: these reports (fields
// separated by '|' here, by NUL on the pipe), then a successful result.
class ScriptedInstance final : public Channel {
public:
    explicit ScriptedInstance(std::vector<std::string> reports) : reports_(std::move(reports)) {
        // "end": the instance ends there, without a result.
        if (reports_.empty() || reports_.back() != "end") {
            reports_.emplace_back("result|0|");
        } else {
            reports_.pop_back();
        }
        for (std::string& report : reports_) {
            std::ranges::replace(report, '|', '\0');
        }
    }
    void Send(std::string_view) override {}
    std::uint64_t HandOver(std::unique_ptr<SourceFile>) override { return 0; }
    std::unique_ptr<SourceFile> TakeOver(std::uint64_t) override { return nullptr; }
    std::optional<std::string> Receive() override {
        if (next_ == reports_.size()) {
            return std::nullopt;
        }
        return reports_[next_++];
    }

private:
    std::vector<std::string> reports_;
    std::size_t next_ = 0;
};

struct RecordingEvents final : UpdateEvents {
    Journal journal;
    std::vector<std::wstring> seen;
    void Did(Step step, const std::wstring& name) override {
        seen.push_back(std::to_wstring(static_cast<int>(step)) + L" " + name);
    }
    void Retrying(const std::wstring& path, const RuntimeError& error, int pause) override {
        seen.push_back(L"retry " + std::to_wstring(pause) + L" " + std::to_wstring(error.Number()) + L" " + path);
    }
};

TEST(Elevation, EveryGarbledOrOutOfRangeReportIsAnErrorNeverAPosition) {
    const struct {
        std::string report;
        std::int32_t error;  // 0: taken
        std::vector<std::wstring> told;
    } cases[] = {
        {"staged|1", 0, {L"staged 1"}},
        {"did|11|b.dll", 0, {L"11 b.dll"}},
        // the last steps: an abandoned entry, a damaged journal, tidying left
        {"did|12|b.dll", 0, {L"12 b.dll"}},
        {"did|13|b.dll", 0, {L"13 b.dll"}},
        {"did|14|b.dll", 0, {L"14 b.dll"}},
        {"retry|50|32|busy|C:\\U\\a.dll", 0, {L"retry 50 32 C:\\U\\a.dll"}},
        {"result|112|full", 112, {}},
        {"end", kErrInternal, {}},  // the instance ended without a result: no success
        // positions: past the last name, negative, too large for any number, not a number
        {"staged|2", kErrInternal, {}},
        {"staged|-1", kErrInternal, {}},
        {"staged|18446744073709551616", kErrInternal, {}},
        {"staged|1x", kErrInternal, {}},
        {"staged| 1", kErrInternal, {}},
        {"staged|", kErrInternal, {}},
        // steps out of range
        {"did|15|b.dll", kErrInternal, {}},
        {"did|-1|b.dll", kErrInternal, {}},
        {"did|one|b.dll", kErrInternal, {}},
        // numbers out of range
        {"retry|-50|32|busy|a", kErrInternal, {}},
        {"retry|50|4294967328|busy|a", kErrInternal, {}},
        {"result|4294967296|full", kErrInternal, {}},
        {"result|zero|", kErrInternal, {}},
        // fields missing or left over
        {"staged", kErrInternal, {}},
        {"staged|1|1", kErrInternal, {}},
        {"did|3", kErrInternal, {}},
        {"retry|50|32|busy", kErrInternal, {}},
        {"result|0", kErrInternal, {}},
        {"result", kErrInternal, {}},
        // kinds unknown
        {"", kErrInternal, {}},
        {"STAGED|1", kErrInternal, {}},
        {"plan|C:\\U|a.dll", kErrInternal, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.report));
        ScriptedInstance instance({c.report});
        RecordingEvents events;
        const std::int32_t error = ErrorNumber([&] {
            FakeFiles files(events.journal);
            ApplyElevated(instance, files, {L"C:\\U", {L"a.dll", L"b.dll"}, {}}, events,
                          [&](std::size_t position) { events.seen.push_back(L"staged " + std::to_wstring(position)); });
        });
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(events.seen, c.told);
    }
}

// The elevated instance run on fakes with a plan; its reports back.
std::vector<std::string> ReportsOf(FakeMachine& machine, const std::vector<std::wstring>& names) {
    // The window's end: it opened the new files, which the instance takes over.
    struct Parent final : Channel {
        explicit Parent(FakeFiles& files) : files_(files) {}
        std::optional<std::string> plan;
        std::vector<std::string> reports;
        std::vector<std::unique_ptr<SourceFile>> opened;
        void Send(std::string_view report) override { reports.emplace_back(report); }
        std::optional<std::string> Receive() override { return std::exchange(plan, std::nullopt); }
        std::uint64_t HandOver(std::unique_ptr<SourceFile> source) override {
            opened.push_back(std::move(source));
            return opened.size();
        }
        std::unique_ptr<SourceFile> TakeOver(std::uint64_t number) override {
            return files_.Reopen(*opened.at(number - 1));
        }
        FakeFiles& files_;
    } parent(machine.files);
    std::vector<std::uint64_t> files;
    for (const std::wstring& name : names) {
        std::unique_ptr<SourceFile> source =
            machine.files.OpenSource(std::wstring(FakeMachine::kUpdate) + L"\\" + name);
        files.push_back(source ? parent.HandOver(std::move(source)) : 0);
    }
    parent.plan = EncodePlan({FakeMachine::kUpdate, names, files});
    machine.files.openByPath = false;
    EXPECT_EQ(ApplyForParent(machine.files, machine.guards, L"C:\\App", parent), 0);
    machine.files.openByPath = true;
    std::vector<std::string> staged;
    for (const std::string& report : parent.reports) {
        if (report.starts_with("staged")) {
            staged.push_back(report.substr(7));
        }
    }
    return staged;
}

TEST(Elevation, OnlyPositionsAppliedOrNeedingNothingAreStagedAsWithoutRights) {
    // gone.dll vanishes as its copy begins; absent.dll was never there.
    auto prepare = [](FakeMachine& machine) {
        machine.List("path\r\none.dll\r\nONE.DLL\r\nsame.dll\r\ngone.dll\r\ntwo.dll\r\n");
        for (const wchar_t* name : {L"one.dll", L"ONE.DLL", L"same.dll", L"gone.dll", L"two.dll"}) {
            machine.NewFile(name, "new");
        }
        machine.AppFile(L"same.dll", "new");
        machine.files.vanishing.insert(std::wstring(FakeMachine::kUpdate) + L"\\gone.dll");
    };
    FakeMachine direct;
    prepare(direct);
    EXPECT_THAT(ReportsOf(direct, {L"one.dll", L"absent.dll", L"ONE.DLL", L"same.dll", L"gone.dll", L"two.dll"}),
                ElementsAre("0", "2", "3", "5"));
    EXPECT_EQ(direct.App(L"one.dll"), "new");
    EXPECT_EQ(direct.App(L"gone.dll"), "<absent>");

    // The bar, the file label and the log's retries move alike with and
    // without administrator rights.
    for (const bool writable : {true, false}) {
        SCOPED_TRACE(writable);
        FakeMachine machine;
        prepare(machine);
        machine.elevation.writable = writable;
        machine.files.locked[L"C:\\App\\one.dll.tessaloom-new"] = 1;
        machine.form.Load();
        machine.form.Command1_Click();
        EXPECT_THAT(machine.files.files[std::wstring(FakeMachine::kUpdate) + L"\\TessaloomUpdate.log"].content,
                    HasSubstr("Retry in " + std::to_string(kRetryPauses[0]) +
                              " ms: C:\\App\\one.dll.tessaloom-new: error 32: "));
        EXPECT_THAT(machine.view.fillWidths, ElementsAre(0.0F, 0.0F, 381.0F, 762.0F, 1143.0F, 1905.0F));
        EXPECT_EQ(machine.view.model.At(kFileLabel).caption, L"two.dll");
        EXPECT_EQ(std::count(machine.journal.begin(), machine.journal.end(),
                             L"message UpdateTessaloom: Tessaloom updated with success"),
                  1);
    }
}

}  // namespace
}  // namespace tessaloom::test
