// Module1's existence test and Win32Files against the real file system
// (under Wine): attributes, patterns, sharing violations.

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "app/form1.h"
#include "fakes.h"
#include "harness.h"
#include "services/elevation.h"
#include "services/files.h"
#include "update/transaction.h"
#include "win32/handles.h"

namespace tessaloom {
namespace {

using test::ErrorNumber;
using ::testing::ElementsAre;

// Opens a file as another program would; share 0 locks it against everyone.
UniqueFile Hold(const std::wstring& path, DWORD access, DWORD share) {
    UniqueFile file(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(file) << "cannot hold file open, error " << GetLastError();
    return file;
}

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::wstring temp(MAX_PATH + 1, L'\0');
        temp.resize(GetTempPathW(static_cast<DWORD>(temp.size()), temp.data()));
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        dir_ = temp + L"tessaloom-files-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::wstring(name.begin(), name.end());
        test::RemoveTree(dir_);
        ASSERT_TRUE(CreateDirectoryW(dir_.c_str(), nullptr));
    }
    void TearDown() override { test::RemoveTree(dir_); }

    [[nodiscard]] std::wstring At(const std::wstring& name) const { return dir_ + L"\\" + name; }
    void WriteWith(const std::wstring& name, std::string_view bytes, DWORD attributes) const {
        test::WriteBytes(At(name), bytes);
        ASSERT_TRUE(SetFileAttributesW(At(name).c_str(), attributes));
    }
    [[nodiscard]] std::vector<std::wstring> Entries() const { return test::FolderEntries(dir_); }
    [[nodiscard]] std::string Read(const std::wstring& name) const { return test::ReadBytes(At(name)); }

    std::wstring dir_;
};

TEST_F(FilesTest, FileExistsSeesOrdinaryFilesOnly) {
    WriteWith(L"plain.dll", "p", FILE_ATTRIBUTE_NORMAL);
    WriteWith(L"readonly.dll", "r", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    WriteWith(L"hidden.dll", "h", FILE_ATTRIBUTE_HIDDEN);
    WriteWith(L"system.dll", "s", FILE_ATTRIBUTE_SYSTEM);
    ASSERT_TRUE(CreateDirectoryW(At(L"sub").c_str(), nullptr));

    EXPECT_TRUE(Module1::FileExists(At(L"plain.dll")));
    EXPECT_TRUE(Module1::FileExists(At(L"readonly.dll")));
    EXPECT_FALSE(Module1::FileExists(At(L"hidden.dll")));
    EXPECT_FALSE(Module1::FileExists(At(L"system.dll")));
    EXPECT_FALSE(Module1::FileExists(At(L"missing.dll")));
    EXPECT_FALSE(Module1::FileExists(At(L"sub")));
}

TEST_F(FilesTest, FileExistsTakesTheLastComponentAsAPattern) {
    WriteWith(L"a1.dll", "", FILE_ATTRIBUTE_NORMAL);
    WriteWith(L"b1.dll", "", FILE_ATTRIBUTE_HIDDEN);
    WriteWith(L"c1.exe", "", FILE_ATTRIBUTE_SYSTEM);
    EXPECT_TRUE(Module1::FileExists(At(L"*")));
    EXPECT_TRUE(Module1::FileExists(At(L"*.dll")));
    EXPECT_TRUE(Module1::FileExists(At(L"?1.dll")));
    EXPECT_FALSE(Module1::FileExists(At(L"b*")));     // only a hidden file matches
    EXPECT_FALSE(Module1::FileExists(At(L"*.exe")));  // only a system file matches
    EXPECT_FALSE(Module1::FileExists(At(L"?.dll")));
}

TEST_F(FilesTest, FileExistsOfAFolderWithATrailingBackslashLooksInside) {
    ASSERT_TRUE(CreateDirectoryW(At(L"empty").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(At(L"nothing-ordinary").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(At(L"nothing-ordinary\\inner").c_str(), nullptr));
    WriteWith(L"nothing-ordinary\\h.txt", "", FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(CreateDirectoryW(At(L"full").c_str(), nullptr));
    WriteWith(L"full\\f.txt", "", FILE_ATTRIBUTE_NORMAL);

    EXPECT_TRUE(Module1::FileExists(At(L"full\\")));
    EXPECT_FALSE(Module1::FileExists(At(L"full")));
    EXPECT_FALSE(Module1::FileExists(At(L"empty\\")));
    EXPECT_FALSE(Module1::FileExists(At(L"nothing-ordinary\\")));
}

TEST(FileExists, FailuresReadAsAbsent) {
    EXPECT_FALSE(Module1::FileExists(L""));
    const DWORD drives = GetLogicalDrives();
    wchar_t unused = 0;
    for (wchar_t letter = L'Q'; letter >= L'D' && unused == 0; --letter) {
        if ((drives & (1U << (letter - L'A'))) == 0) {
            unused = letter;
        }
    }
    ASSERT_NE(unused, 0) << "no free drive letter";
    EXPECT_FALSE(Module1::FileExists(std::wstring(1, unused) + L":\\Update\\TessaloomUpdate.txt"));
    EXPECT_FALSE(Module1::FileExists(std::wstring(1, unused) + L":\\"));
    EXPECT_FALSE(Module1::FileExists(L"C:\\no<such>|folder\\x.dll"));
    EXPECT_FALSE(Module1::FileExists(L"\\\\?\\"));
    EXPECT_FALSE(Module1::FileExists(L"\\\\no-such-server-here\\share\\x.dll"));
}

// On storage that runs out beneath its file system (thin_drive.sh), every
// write succeeds into the cache and only the flush learns that the new content
// cannot reach the disk: the destination must stay as it was.
TEST(Transaction, ContentThatCannotReachTheDiskNeverReplacesTheDestination) {
    const std::wstring drive = std::wstring(TESSALOOM_BUILD_DIR) + L"\\thin-drive\\drive";
    if (GetFileAttributesW((drive + L"\\mounted").c_str()) == INVALID_FILE_ATTRIBUTES) {
        GTEST_SKIP() << "no thin drive: mounting one needs root and loop devices";
    }
    const std::wstring updates = std::wstring(TESSALOOM_BUILD_DIR) + L"\\thin-drive";
    test::WriteBytes(updates + L"\\a.dll", std::string(8 << 20, 'n'));  // more than the storage holds
    test::WriteBytes(drive + L"\\a.dll", "old");
    Win32Files files;
    EXPECT_EQ(ErrorNumber([&] {
                  UpdateTransaction update(files, drive, updates);
                  update.Plan({L"a.dll"});
                  update.Stage(0, [] {});
                  update.Commit();
              }),
              ERROR_DISK_FULL);
    EXPECT_TRUE(test::ReadBytes(drive + L"\\a.dll") == "old");
    EXPECT_THAT(test::FolderEntries(drive), ElementsAre(L"a.dll", L"lost+found", L"mounted"));
    DeleteFileW((drive + L"\\a.dll").c_str());
    DeleteFileW((updates + L"\\a.dll").c_str());
}

// A new file whose folder went after planning is skipped as vanished, not
// reported as a missing path, and leaves no folder behind.
TEST_F(FilesTest, ANewFileWhoseFolderVanishedIsSkipped) {
    Win32Files files;
    const std::wstring app = At(L"app");
    const std::wstring updates = At(L"updates");
    files.CreateFolders(app);
    files.CreateFolders(updates + L"\\sub");
    test::WriteBytes(updates + L"\\sub\\a.dll", "new");
    UpdateTransaction update(files, app, updates);
    update.Plan({L"sub\\a.dll"});
    test::RemoveTree(updates + L"\\sub");
    EXPECT_FALSE(update.Stage(0, [] {}));
    update.Commit();
    EXPECT_THAT(test::FolderEntries(app), ElementsAre());
}

// Many paths of one folder looked up at once read as each looked up alone:
// in any case, by short name, hidden, read-only, folders and absent names.
TEST_F(FilesTest, FactsOfAllAgreeWithFactsOfEach) {
    Win32Files files;
    WriteWith(L"plain.dll", "p", FILE_ATTRIBUTE_NORMAL);
    WriteWith(L"readonly.dll", "rr", FILE_ATTRIBUTE_READONLY);
    WriteWith(L"hidden.dll", "hhh", FILE_ATTRIBUTE_HIDDEN);
    WriteWith(L"A long name.resources", "long", FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(CreateDirectoryW(At(L"sub").c_str(), nullptr));
    std::vector<std::wstring> paths{At(L"PLAIN.DLL"), At(L"readonly.dll"), At(L"Hidden.Dll"), At(L"sub"),
                                    At(L"a long name.RESOURCES"), At(L"plain.dll."), At(L""), L""};
    std::wstring brief(MAX_PATH, L'\0');
    brief.resize(GetShortPathNameW(At(L"A long name.resources").c_str(), brief.data(), MAX_PATH));
    paths.push_back(brief);
    for (int i = 0; paths.size() < 40; ++i) {
        paths.push_back(At(L"absent" + std::to_wstring(i) + L".dll"));
    }
    const std::vector<FileFacts> all = files.FactsOfAll(paths);
    ASSERT_EQ(all.size(), paths.size());
    const auto fields = [](const FileFacts& f) {
        return std::tuple(f.exists, f.folder, f.hiddenOrSystem, f.readOnly, f.size, f.modified, f.link);
    };
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const FileFacts alone = paths[i].empty() ? FileFacts{} : files.Facts(paths[i]);
        EXPECT_EQ(fields(all[i]), fields(alone)) << std::string(paths[i].begin(), paths[i].end());
    }
    EXPECT_TRUE(all[0].exists && all[8].exists) << "in another case and by short name";
}

TEST_F(FilesTest, CreateFoldersMakesMissingParentsAndAcceptsExistingOnes) {
    Win32Files files;
    EXPECT_THAT(files.CreateFolders(At(L"a\\b\\c")), ElementsAre(At(L"a"), At(L"a\\b"), At(L"a\\b\\c")));
    EXPECT_THAT(files.CreateFolders(At(L"a\\b\\c\\")), ElementsAre());
    EXPECT_THAT(files.CreateFolders(At(L"a/d")), ElementsAre(At(L"a/d")));
    EXPECT_THAT(files.CreateFolders(dir_), ElementsAre());
    files.RemoveEmptyFolder(At(L"a\\b"));  // not empty: stays
    EXPECT_NE(GetFileAttributesW(At(L"a\\b\\c").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0U);
    EXPECT_NE(GetFileAttributesW(At(L"a\\d").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0U);
    files.RemoveEmptyFolder(At(L"a\\d"));
    EXPECT_EQ(GetFileAttributesW(At(L"a\\d").c_str()), INVALID_FILE_ATTRIBUTES);

    WriteWith(L"file", "", FILE_ATTRIBUTE_NORMAL);
    EXPECT_THROW(files.CreateFolders(At(L"file")), RuntimeError);
    EXPECT_THROW(files.CreateFolders(At(L"file\\sub")), RuntimeError);
}

TEST_F(FilesTest, RenameFileGivesANameThatIsFree) {
    Win32Files files;
    WriteWith(L"OLDa.dll", "backup", FILE_ATTRIBUTE_NORMAL);
    WriteWith(L"b.dll", "b", FILE_ATTRIBUTE_NORMAL);
    files.RenameFile(At(L"OLDa.dll"), At(L"a.dll"));
    EXPECT_THROW(files.RenameFile(At(L"a.dll"), At(L"b.dll")), RuntimeError);
    EXPECT_THAT(Entries(), ElementsAre(L"a.dll", L"b.dll"));
    EXPECT_EQ(Read(L"a.dll"), "backup");
}

// The steps an update is made of, on the real file system: what a path is,
// comparing, copying with the source's time, flushing, writing in place,
// removing whatever the attributes, and a lock reported as a sharing violation.
TEST_F(FilesTest, TheStepsOfAnUpdateOnRealFiles) {
    Win32Files files;
    WriteWith(L"new.dll", "new content", FILE_ATTRIBUTE_NORMAL);
    WriteWith(L"same.dll", "new content", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    WriteWith(L"other.dll", "new contenT", FILE_ATTRIBUTE_READONLY);
    const FileFacts fresh = files.Facts(At(L"new.dll"));
    EXPECT_TRUE(fresh.exists && !fresh.folder && !fresh.hiddenOrSystem && !fresh.readOnly);
    EXPECT_EQ(fresh.size, 11U);
    EXPECT_TRUE(files.Facts(At(L"same.dll")).hiddenOrSystem);
    EXPECT_TRUE(files.Facts(At(L"other.dll")).readOnly);
    EXPECT_TRUE(files.Facts(dir_).folder);
    EXPECT_FALSE(files.Facts(At(L"missing")).exists);
    EXPECT_FALSE(files.Facts(L"Q:\\nowhere\\x").exists);

    {
        // One handle from the check to the copy: nobody may write meanwhile.
        const std::unique_ptr<SourceFile> source = files.OpenSource(At(L"new.dll"));
        ASSERT_TRUE(source);
        EXPECT_EQ(source->Facts().size, fresh.size);
        EXPECT_EQ(source->Facts().modified, fresh.modified);
        EXPECT_TRUE(source->SameContentAs(At(L"same.dll")));
        EXPECT_FALSE(source->SameContentAs(At(L"other.dll")));
        EXPECT_EQ(CreateFileW(At(L"new.dll").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(source->CopyTo(At(L"staged"), {}).bytes, 11U);
        EXPECT_EQ(source->CopyTo(At(L"staged"), {}).bytes, 11U);  // again, over what an earlier run left
    }
    {
        // A large copy tells its progress from its first chunk on, so the window answers meanwhile.
        std::string large(3 * 1024 * 1024 + 17, '\0');
        for (std::size_t i = 0; i < large.size(); ++i) {
            large[i] = static_cast<char>(i * 7 + i / 4096);
        }
        test::WriteBytes(At(L"large.dll"), large);
        int calls = 0;
        EXPECT_EQ(files.OpenSource(At(L"large.dll"))->CopyTo(At(L"large.staged"), [&calls] { ++calls; }).bytes, large.size());
        EXPECT_GE(calls, 1);
        EXPECT_TRUE(Read(L"large.staged") == large);
        files.Remove(At(L"large.dll"));
        files.Remove(At(L"large.staged"));
    }
    {
        // Flushes started in the background: each copy, flushed when asked or
        // not, is closed once dropped, even while its flush may still run.
        const std::unique_ptr<SourceFile> source = files.OpenSource(At(L"new.dll"));
        for (int i = 0; i < 32; ++i) {
            const std::wstring staged = At(L"flushed" + std::to_wstring(i));
            SourceFile::Copied copied = source->CopyTo(staged, {});
            copied.file->StartFlush();
            if (i % 2 == 0) {
                copied.file->Flush();
            }
            copied.file.reset();
            files.Remove(staged);  // refused while the copy is open
            EXPECT_FALSE(files.Facts(staged).exists) << i;
        }
    }
    files.Flush(At(L"staged"));
    EXPECT_EQ(Read(L"staged"), "new content");
    EXPECT_EQ(files.Facts(At(L"staged")).modified, fresh.modified);
    for (const wchar_t* absent : {L"missing", L"no-such-folder\\x", L"same.dll"}) {
        EXPECT_EQ(files.OpenSource(At(absent)), nullptr) << absent;  // hidden and system files are not sources
    }
    {
        UniqueFile locked = Hold(At(L"new.dll"), GENERIC_READ | GENERIC_WRITE, 0);
        EXPECT_EQ(ErrorNumber([&] { files.OpenSource(At(L"new.dll")); }), kErrSharingViolation);
    }
    {
        // The lock file: one holder at a time, gone once released.
        const std::unique_ptr<FolderLock> lock = files.Lock(At(L"lock"));
        EXPECT_EQ(ErrorNumber([&] { files.Lock(At(L"lock")); }), kErrSharingViolation);
    }
    EXPECT_FALSE(files.Facts(At(L"lock")).exists);

    files.WriteWholeFile(At(L"journal"), "phase S");
    files.WriteAt(At(L"journal"), 6, "C");
    EXPECT_EQ(Read(L"journal"), "phase C");

    files.MakeOrdinary(At(L"same.dll"));
    EXPECT_EQ(test::Attributes(At(L"same.dll")) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), 0U);
    files.Remove(At(L"other.dll"));
    files.Remove(At(L"other.dll"));  // already gone: fine
    EXPECT_THAT(Entries(), ElementsAre(L"journal", L"new.dll", L"same.dll", L"staged"));
}

TEST_F(FilesTest, ReadWholeFileReadsEveryByteUnlessTheFileIsLocked) {
    using namespace std::string_view_literals;
    Win32Files files;
    const std::string_view bytes = "net\r\n\"a, b\"\0\xE9\r\n"sv;
    test::WriteBytes(At(L"list.txt"), bytes);
    test::WriteBytes(At(L"empty.txt"), "");
    EXPECT_EQ(files.ReadWholeFile(At(L"list.txt")), std::string(bytes));
    EXPECT_EQ(files.ReadWholeFile(At(L"empty.txt")), std::string());
    EXPECT_EQ(files.ReadWholeFile(At(L"missing.txt")), std::nullopt);
    {
        UniqueFile writer = Hold(At(L"list.txt"), GENERIC_WRITE, FILE_SHARE_READ);
        EXPECT_EQ(files.ReadWholeFile(At(L"list.txt")), std::string(bytes));
    }
    UniqueFile locked = Hold(At(L"list.txt"), GENERIC_READ, 0);
    EXPECT_EQ(files.ReadWholeFile(At(L"list.txt")), std::nullopt);
}

// The update flow reading a real list through Win32Files; everything else is inert.
struct InertProcess final : Process {
    explicit InertProcess(std::wstring folder) : folder_(std::move(folder)) {}
    std::wstring CommandLine() override { return {}; }
    std::wstring ApplicationFolder() override { return folder_; }
    std::wstring ExecutableName() override { return {}; }
    std::wstring ProductName() override { return {}; }
    std::wstring Version() override { return {}; }
    std::wstring LocalTime() override { return {}; }
    void Start(const std::wstring&) override {}
    Claim ClaimApplicationFolder() override { return Claim::Taken; }
    void ReleaseApplicationFolder() override {}
    void ActivateOtherInstance() override {}
    std::wstring folder_;
};
struct InertDialogs final : Dialogs {
    void Message(const std::wstring&, const std::wstring&) override {}
    void Error(const std::wstring&, const std::wstring&) override {}
};
struct InertRegistry final : Registry {
    void RegisterOpenCommand(const std::wstring&, const std::wstring&) override {}
};
TEST_F(FilesTest, TheUpdateListIsAbsentWhenHiddenAndUnreadableWhenLocked) {
    Win32Files files;
    InertProcess process(dir_);
    InertDialogs dialogs;
    InertRegistry registry;
    test::RecordingView view;
    Win32Elevation elevation;
    test::FakeGuards guards;
    Form1 form(Platform{files, process, dialogs, registry, view, DecodeAnsi, nullptr, elevation, guards});
    std::vector<std::wstring> names{L"stale"};
    std::wstring network = L"kept";

    test::WriteBytes(At(L"list.txt"), "\\\\server\\share\r\na.dll\r\n\"b, c.dll\"\r\n");
    {
        UniqueFile locked = Hold(At(L"list.txt"), GENERIC_READ, 0);
        EXPECT_FALSE(form.LoadFilesUpdates(At(L"list.txt"), names, network));
    }
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(network, L"kept");

    ASSERT_TRUE(SetFileAttributesW(At(L"list.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_FALSE(form.LoadFilesUpdates(At(L"list.txt"), names, network));
    EXPECT_EQ(network, L"kept");

    ASSERT_TRUE(SetFileAttributesW(At(L"list.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(form.LoadFilesUpdates(L"list.txt", names, network));  // relative to the application folder
    EXPECT_EQ(network, L"\\\\server\\share");
    EXPECT_THAT(names, ElementsAre(L"a.dll", L"b, c.dll"));
}

// Administrator rights help only where creating a file is denied; a folder
// that is missing or cannot be reached is the walk's to report, as it is.
TEST_F(FilesTest, CanWriteSaysNoOnlyWhereCreatingAFileIsDenied) {
    Win32Elevation elevation;
    test::WriteBytes(At(L"file.txt"), "x");
    wchar_t noDrive = 0;
    for (wchar_t drive = L'Y'; drive > L'D' && noDrive == 0; --drive) {
        noDrive = (GetLogicalDrives() & (1U << (drive - L'A'))) == 0 ? drive : 0;
    }
    ASSERT_NE(noDrive, 0);
    const DWORD sys = GetFileAttributesW(L"Z:\\sys");
    const bool sysfs = sys != INVALID_FILE_ATTRIBUTES && (sys & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const struct {
        std::wstring folder;
        bool writable;
    } cases[] = {
        {dir_, true},
        {At(L"missing"), true},
        {At(L"missing\\deeper"), true},
        {At(L"file.txt"), true},
        {At(L"file.txt\\sub"), true},
        {At(L"a|b"), true},
        {std::wstring(1, noDrive) + L":\\App", true},
        // sysfs refuses to create files, even for root.
        {L"Z:\\sys", !sysfs},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(elevation.CanWrite(c.folder), c.writable) << std::string(c.folder.begin(), c.folder.end());
    }
    EXPECT_THAT(Entries(), ElementsAre(L"file.txt")) << "a probe was left behind";
}

}  // namespace
}  // namespace tessaloom
