#include "update/file_names.h"

#include <gtest/gtest.h>

#include "core/text.h"

namespace tessaloom {
namespace {

TEST(IsPlainRelativeName, AcceptsNamesAndSubfolders) {
    for (const wchar_t* name : {L"Tessaloom.exe", L"a b.dll", L"plugins\\x.dll", L"a/b.txt", L"noextension", L"..name",
                                L"CONSOLE.txt", L"COM10"}) {
        EXPECT_TRUE(IsPlainRelativeName(name)) << name;
    }
}

TEST(IsPlainRelativeName, RefusesWhatCouldLeaveTheFolder) {
    for (const wchar_t* name : {L"",
                                L"*.dll",
                                L"a?.dll",
                                L"\\Windows\\x.dll",
                                L"/etc",
                                L"C:x.dll",
                                L"C:\\x.dll",
                                L"\\\\server\\share\\x",
                                L"\\\\?\\C:\\x",
                                L"\\\\.\\PhysicalDrive0",
                                L"..\\x.dll",
                                L"a\\..\\..\\x.dll",
                                L"a\\..",
                                L".",
                                L"sub\\",
                                L"a\\\\b",
                                L"file.txt:stream",
                                L"NUL",
                                L"con.txt",
                                L"sub\\LPT1",
                                L"CONIN$",
                                L"conout$.txt",
                                L"COM0",
                                L"LPT\u00B9",
                                L"TessaloomUpdate.journal",
                                L"a.dll.TESSALOOM-NEW",
                                L"sub\\OLDa.dll.tessaloom-old",
                                L"name.",
                                L"name ",
                                L"a\tb"}) {
        EXPECT_FALSE(IsPlainRelativeName(name)) << name;
    }
}

TEST(BackupName, PutsOldBeforeTheLastComponent) {
    EXPECT_EQ(BackupName(L"Data.bin"), L"OLDData.bin");
    EXPECT_EQ(BackupName(L"plugins\\deep\\x.dll"), L"plugins\\deep\\OLDx.dll");
    EXPECT_EQ(FolderPart(L"plugins\\deep\\x.dll"), L"plugins\\deep");
    EXPECT_EQ(FolderPart(L"x.dll"), L"");
}

}  // namespace
}  // namespace tessaloom
