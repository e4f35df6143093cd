// The shell folder service against Wine's shell, and what the built executable declares.

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "core/error.h"
#include "core/version_info.h"
#include "harness.h"
#include "services/registry.h"
#include "services/shell_folders.h"
#include "win32/handles.h"

namespace tessaloom {
namespace {

using test::DocumentsRedirect;
using test::IsFile;
using test::MakeFolders;
using test::RemoveTree;

std::wstring Trimmed(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') {
        path.pop_back();  // Wine may report a redirected folder with a trailing backslash
    }
    return path;
}

TEST(SpecialFolder, GivesFileSystemFoldersAndNothingForTheRest) {
    std::wstring temp(MAX_PATH, L'\0');
    temp.resize(GetTempPathW(MAX_PATH, temp.data()));
    const std::wstring documents = temp + L"tessaloom-shell-\u6587\u5b57-" + std::to_wstring(GetCurrentProcessId());
    MakeFolders(documents);
    {
        DocumentsRedirect redirect(documents);
        Win32SpecialFolder shell;
        const std::wstring found = shell.Return_Special_Path(0, CSIDL_PERSONAL);
        EXPECT_EQ(Trimmed(found), documents);
        EXPECT_EQ(found.find(L'\0'), std::wstring::npos);
        EXPECT_EQ(shell.Return_Special_Path(0, CSIDL_DRIVES), L"") << "a virtual folder has no path";
        EXPECT_EQ(shell.Return_Special_Path(0, 0x7FFF), L"") << "an identifier the shell rejects";

        const auto [status, path] = shell.FolderPathCreating(CSIDL_PERSONAL | CSIDL_FLAG_CREATE);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(Trimmed(path), documents);
        EXPECT_EQ(shell.FolderPathCreating(0x7FFF | CSIDL_FLAG_CREATE).first, static_cast<std::int32_t>(E_INVALIDARG));
    }
    RemoveTree(documents);
}

std::wstring VersionString(const std::string& block, const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(block.data(), key.c_str(), &value, &length)) {
        return L"<missing>";
    }
    return static_cast<const wchar_t*>(value);
}

// A DWORD value given as text is written as its number; text that is not
// one, or out of range, is a type mismatch that writes nothing.
TEST(Registry, ADwordGivenAsTextIsWrittenOnlyWhenItIsANumber) {
    UniqueKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\TessaloomUpdateTest", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, key.Put(), nullptr),
              ERROR_SUCCESS);
    const struct {
        const wchar_t* text;
        std::int64_t number;  // -1 for a type mismatch
    } rows[] = {{L"42", 42},          {L"  -7", -7},      {L"+2147483647", 2147483647}, {L"-2147483648", -2147483648LL},
                {L"2147483648", -1}, {L"4x", -1},        {L"", -1},                    {L"- 1", -1},
                {L"99999999999999999999", -1}};
    for (const auto& row : rows) {
        const std::string text(row.text, row.text + wcslen(row.text));
        DWORD written = 0xDEADBEEF;
        RegSetValueExW(key.Get(), L"n", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&written), sizeof written);
        try {
            Module1::WriteRegistryValue(key.Get(), L"n", REG_DWORD, std::wstring(row.text));
            EXPECT_NE(row.number, -1) << text << " was written";
        } catch (const RuntimeError& error) {
            EXPECT_EQ(row.number, -1) << text << ": " << error.Number();
        }
        DWORD size = sizeof written;
        RegQueryValueExW(key.Get(), L"n", nullptr, nullptr, reinterpret_cast<BYTE*>(&written), &size);
        EXPECT_EQ(written, row.number == -1 ? 0xDEADBEEF : static_cast<DWORD>(row.number)) << text;
    }
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\TessaloomUpdateTest");
}

TEST(Executable, DeclaresItsVersionAndRunsAsInvoker) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(TESSALOOM_UPDATER_EXE, &ignored);
    ASSERT_GT(size, 0U);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(TESSALOOM_UPDATER_EXE, 0, size, block.data()));
    EXPECT_EQ(VersionString(block, L"ProductName"), L"UpdateTessaloom");
    EXPECT_EQ(VersionString(block, L"InternalName"), L"Setup");
    EXPECT_EQ(VersionString(block, L"OriginalFilename"), L"Setup.exe");
    EXPECT_EQ(VersionString(block, L"FileVersion"), L"4.00.0006");
    EXPECT_EQ(VersionString(block, L"ProductVersion"), L"4.00.0006");
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 4));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(6, 0));

    HMODULE exe =
        LoadLibraryExW(TESSALOOM_UPDATER_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(exe, nullptr);
    // The updater reads its own version resource without VERSION.dll: it
    // finds what VERSION.dll finds.
    HRSRC version = FindResourceW(exe, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
    ASSERT_NE(version, nullptr);
    const std::string resource(static_cast<const char*>(LockResource(LoadResource(exe, version))),
                               SizeofResource(exe, version));
    for (const wchar_t* name :
         {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName", L"ProductName", L"ProductVersion"}) {
        EXPECT_EQ(VersionInfoString(resource, std::wstring(L"StringFileInfo\\040904b0\\") + name),
                  VersionString(block, name))
            << name;
    }
    EXPECT_FALSE(VersionInfoString(resource, L"StringFileInfo\\040904B0\\Comments"));
    HRSRC found = FindResourceW(exe, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(found, nullptr);
    const std::string manifest(static_cast<const char*>(LockResource(LoadResource(exe, found))),
                               SizeofResource(exe, found));
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("PerMonitorV2"), std::string::npos);
    FreeLibrary(exe);
    EXPECT_TRUE(IsFile(TESSALOOM_UPDATER_EXE));
}

}  // namespace
}  // namespace tessaloom
