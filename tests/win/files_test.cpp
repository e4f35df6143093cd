// Module1's file procedures and Win32Files against the real file system
// (under Wine): attributes, patterns, sharing violations.

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/form1.h"
#include "fakes.h"
#include "harness.h"
#include "services/elevation.h"
#include "services/files.h"
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

TEST_F(FilesTest, BackupFileDoesNothingWhenTheCurrentFileIsAbsentOrHidden) {
    WriteWith(L"OLDa.dll", "old backup", FILE_ATTRIBUTE_NORMAL);
    Module1::BackupFile(At(L"a.dll"), At(L"OLDa.dll"));
    WriteWith(L"b.dll", "hidden current", FILE_ATTRIBUTE_HIDDEN);
    Module1::BackupFile(At(L"b.dll"), At(L"OLDb.dll"));
    EXPECT_THAT(Entries(), ElementsAre(L"OLDa.dll", L"b.dll"));
    EXPECT_EQ(Read(L"OLDa.dll"), "old backup");
}

TEST_F(FilesTest, BackupFileReplacesTheEarlierBackup) {
    WriteWith(L"a.dll", "current", FILE_ATTRIBUTE_READONLY);
    WriteWith(L"OLDa.dll", "old backup", FILE_ATTRIBUTE_NORMAL);
    Module1::BackupFile(At(L"a.dll"), At(L"OLDa.dll"));
    EXPECT_THAT(Entries(), ElementsAre(L"OLDa.dll"));
    EXPECT_EQ(Read(L"OLDa.dll"), "current");
}

TEST_F(FilesTest, BackupFileReportsAFailedRenameOrDeleteAndKeepsTheCurrentFile) {
    WriteWith(L"a.dll", "current a", FILE_ATTRIBUTE_NORMAL);
    WriteWith(L"OLDa.dll", "hidden backup", FILE_ATTRIBUTE_HIDDEN);
    try {
        Module1::BackupFile(At(L"a.dll"), At(L"OLDa.dll"));
        ADD_FAILURE() << "no error";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Number(), ERROR_ALREADY_EXISTS);
        EXPECT_FALSE(error.Description().empty());
    }
    EXPECT_EQ(Read(L"a.dll"), "current a");
    EXPECT_EQ(Read(L"OLDa.dll"), "hidden backup");

    WriteWith(L"b.dll", "current b", FILE_ATTRIBUTE_NORMAL);
    WriteWith(L"OLDb.dll", "read-only backup", FILE_ATTRIBUTE_READONLY);
    EXPECT_THROW(Module1::BackupFile(At(L"b.dll"), At(L"OLDb.dll")), RuntimeError);
    EXPECT_EQ(Read(L"b.dll"), "current b");
    EXPECT_EQ(Read(L"OLDb.dll"), "read-only backup");
}

TEST_F(FilesTest, CopyUpdateFileReplacesTheDestinationWithAnOrdinaryFile) {
    WriteWith(L"new.dll", "new content", FILE_ATTRIBUTE_READONLY);
    WriteWith(L"a.dll", "old content that is longer", FILE_ATTRIBUTE_NORMAL);
    WriteWith(L"h.dll", "hidden old content", FILE_ATTRIBUTE_HIDDEN);
    Module1::CopyUpdateFile(At(L"new.dll"), At(L"a.dll"));
    Module1::CopyUpdateFile(At(L"new.dll"), At(L"h.dll"));
    Module1::CopyUpdateFile(At(L"new.dll"), At(L"fresh.dll"));

    EXPECT_THAT(Entries(), ElementsAre(L"a.dll", L"fresh.dll", L"h.dll", L"new.dll"));
    WIN32_FILE_ATTRIBUTE_DATA source{};
    ASSERT_TRUE(GetFileAttributesExW(At(L"new.dll").c_str(), GetFileExInfoStandard, &source));
    for (const wchar_t* name : {L"a.dll", L"h.dll", L"fresh.dll"}) {
        EXPECT_EQ(Read(name), "new content");
        EXPECT_TRUE(Module1::FileExists(At(name)));
        WIN32_FILE_ATTRIBUTE_DATA copy{};
        ASSERT_TRUE(GetFileAttributesExW(At(name).c_str(), GetFileExInfoStandard, &copy));
        EXPECT_EQ(copy.dwFileAttributes & FILE_ATTRIBUTE_READONLY, 0U);
        EXPECT_EQ(CompareFileTime(&copy.ftLastWriteTime, &source.ftLastWriteTime), 0);
    }
}

TEST_F(FilesTest, CopyUpdateFileFromAMissingOrHiddenSourceDoesNothing) {
    WriteWith(L"a.dll", "old", FILE_ATTRIBUTE_NORMAL);
    WriteWith(L"hidden.dll", "new", FILE_ATTRIBUTE_HIDDEN);
    Module1::CopyUpdateFile(At(L"missing.dll"), At(L"a.dll"));
    Module1::CopyUpdateFile(At(L"hidden.dll"), At(L"a.dll"));
    Module1::CopyUpdateFile(At(L"missing.dll"), At(L"b.dll"));
    EXPECT_THAT(Entries(), ElementsAre(L"a.dll", L"hidden.dll"));
    EXPECT_EQ(Read(L"a.dll"), "old");
}

TEST_F(FilesTest, AFailedCopyLeavesTheDestinationAndNoTemporary) {
    WriteWith(L"new.dll", "new", FILE_ATTRIBUTE_NORMAL);
    WriteWith(L"a.dll", "old a", FILE_ATTRIBUTE_NORMAL);
    WriteWith(L"ro.dll", "old ro", FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(CreateDirectoryW(At(L"folder.dll").c_str(), nullptr));
    const std::vector<std::wstring> before = Entries();
    {
        UniqueFile locked = Hold(At(L"new.dll"), GENERIC_READ, 0);
        EXPECT_THROW(Module1::CopyUpdateFile(At(L"new.dll"), At(L"a.dll")), RuntimeError);
    }
    {
        UniqueFile locked = Hold(At(L"a.dll"), GENERIC_READ, 0);
        EXPECT_THROW(Module1::CopyUpdateFile(At(L"new.dll"), At(L"a.dll")), RuntimeError);
    }
    EXPECT_THROW(Module1::CopyUpdateFile(At(L"new.dll"), At(L"ro.dll")), RuntimeError);
    EXPECT_THROW(Module1::CopyUpdateFile(At(L"new.dll"), At(L"folder.dll")), RuntimeError);
    EXPECT_THROW(Module1::CopyUpdateFile(At(L"new.dll"), At(L"no-such-folder\\a.dll")), RuntimeError);
    EXPECT_EQ(Entries(), before);
    EXPECT_EQ(Read(L"a.dll"), "old a");
    EXPECT_EQ(Read(L"ro.dll"), "old ro");
}

TEST_F(FilesTest, ACopyInterruptedHalfwayLeavesTheDestinationWhole) {
    std::string large(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<char>(i * 7 + i / 4096);
    }
    test::WriteBytes(At(L"new.dll"), large);
    WriteWith(L"a.dll", "old", FILE_ATTRIBUTE_NORMAL);

    // Progress comes after the first chunk, so an error there cuts the copy
    // short after a part of the file.
    int calls = 0;
    EXPECT_THROW(Module1::CopyUpdateFile(At(L"new.dll"), At(L"a.dll"),
                                         [&calls] {
                                             ++calls;
                                             throw RuntimeError(18, L"User interrupt occurred");
                                         }),
                 RuntimeError);
    EXPECT_EQ(calls, 1);
    EXPECT_THAT(Entries(), ElementsAre(L"a.dll", L"new.dll"));
    EXPECT_EQ(Read(L"a.dll"), "old");

    calls = 0;
    Module1::CopyUpdateFile(At(L"new.dll"), At(L"a.dll"), [&calls] { ++calls; });
    EXPECT_GE(calls, 1);
    EXPECT_TRUE(Read(L"a.dll") == large);
}

// On storage that runs out beneath its file system (thin_drive.sh), every
// write succeeds into the cache and only the flush learns that the new content
// cannot reach the disk: the destination must stay as it was.
TEST(CopyUpdateFile, ContentThatCannotReachTheDiskNeverReplacesTheDestination) {
    const std::wstring drive = std::wstring(TESSALOOM_BUILD_DIR) + L"\\thin-drive\\drive";
    if (GetFileAttributesW((drive + L"\\mounted").c_str()) == INVALID_FILE_ATTRIBUTES) {
        GTEST_SKIP() << "no thin drive: mounting one needs root and loop devices";
    }
    const std::wstring source = std::wstring(TESSALOOM_BUILD_DIR) + L"\\thin-drive\\new.dll";
    const std::wstring destination = drive + L"\\a.dll";
    test::WriteBytes(source, std::string(8 << 20, 'n'));  // more than the storage holds
    test::WriteBytes(destination, "old");
    EXPECT_EQ(ErrorNumber([&] { Module1::CopyUpdateFile(source, destination); }), ERROR_DISK_FULL);
    EXPECT_TRUE(test::ReadBytes(destination) == "old");
    EXPECT_THAT(test::FolderEntries(drive), ElementsAre(L"a.dll", L"lost+found", L"mounted"));
    DeleteFileW(destination.c_str());
    DeleteFileW(source.c_str());
}

TEST_F(FilesTest, CreateFoldersMakesMissingParentsAndAcceptsExistingOnes) {
    Win32Files files;
    files.CreateFolders(At(L"a\\b\\c"));
    files.CreateFolders(At(L"a\\b\\c\\"));
    files.CreateFolders(At(L"a/d"));
    files.CreateFolders(dir_);
    EXPECT_NE(GetFileAttributesW(At(L"a\\b\\c").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0U);
    EXPECT_NE(GetFileAttributesW(At(L"a\\d").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0U);

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

    EXPECT_TRUE(files.SameContent(At(L"new.dll"), At(L"same.dll")));
    EXPECT_FALSE(files.SameContent(At(L"new.dll"), At(L"other.dll")));

    files.Copy(At(L"new.dll"), At(L"staged"), {});
    files.Copy(At(L"new.dll"), At(L"staged"), {});  // over what an earlier run left
    files.Flush(At(L"staged"));
    EXPECT_EQ(Read(L"staged"), "new content");
    EXPECT_EQ(files.Facts(At(L"staged")).modified, fresh.modified);
    EXPECT_EQ(ErrorNumber([&] { files.Copy(At(L"missing"), At(L"x"), {}); }), kErrFileNotFound);
    {
        UniqueFile locked = Hold(At(L"new.dll"), GENERIC_READ | GENERIC_WRITE, 0);
        EXPECT_EQ(ErrorNumber([&] { files.Copy(At(L"new.dll"), At(L"y"), {}); }), kErrSharingViolation);
    }

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
    bool ClaimApplicationFolder() override { return true; }
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
    Form1 form(Platform{files, process, dialogs, registry, view, DecodeAnsi, nullptr, elevation});
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

}  // namespace
}  // namespace tessaloom
