// Reading the executable's own version resource without VERSION.dll: what it
// finds in a well-formed block, and that a damaged block gives nothing
// rather than a read outside it.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/version_info.h"

namespace tessaloom::test {
namespace {

// A node as the resource compiler lays it out.
struct Node {
    std::u16string key;
    std::optional<std::u16string> text;  // a text value (type 1), with its NUL
    std::vector<Node> children;
    std::string binary;  // a binary value (type 0) instead
};

void Pad(std::string& bytes) {
    while (bytes.size() % 4 != 0) {
        bytes.push_back('\0');
    }
}

void PutWord(std::string& bytes, std::size_t at, std::size_t value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void AppendUnits(std::string& bytes, const std::u16string& text) {
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    bytes.append(2, '\0');
}

std::string Encode(const Node& node) {
    std::string bytes(6, '\0');
    AppendUnits(bytes, node.key);
    Pad(bytes);
    if (node.text) {
        AppendUnits(bytes, *node.text);
        PutWord(bytes, 2, node.text->size() + 1);
        PutWord(bytes, 4, 1);
    } else {
        bytes += node.binary;
        PutWord(bytes, 2, node.binary.size());
    }
    for (const Node& child : node.children) {
        Pad(bytes);
        bytes += Encode(child);
    }
    PutWord(bytes, 0, bytes.size());
    return bytes;
}

Node Block() {
    return {
        u"VS_VERSION_INFO",
        std::nullopt,
        {{u"StringFileInfo",
          std::nullopt,
          {{u"040904B0",
            std::nullopt,
            {{u"CompanyName", u"Tessaloom", {}, {}},
             {u"ProductName", u"UpdateTessaloom", {}, {}},
             {u"Comments", u"", {}, {}},
             {u"Odd", u"\u6587", {}, {}}},
            {}}},
          {}},
         {u"VarFileInfo", std::nullopt, {{u"Translation", std::nullopt, {}, std::string("\x09\x04\xB0\x04", 4)}}, {}}},
        std::string(52, '\x01')};  // the fixed information
}

TEST(VersionInfo, FindsTextByPathAndNothingElse) {
    const std::string block = Encode(Block());
    struct Case {
        const wchar_t* path;
        std::optional<std::wstring> expected;
    };
    const std::vector<Case> cases = {
        {L"StringFileInfo\\040904B0\\ProductName", L"UpdateTessaloom"},
        {L"StringFileInfo\\040904B0\\CompanyName", L"Tessaloom"},
        {L"stringfileinfo\\040904b0\\PRODUCTNAME", L"UpdateTessaloom"},
        {L"StringFileInfo\\040904B0\\Comments", L""},
        {L"StringFileInfo\\040904B0\\Odd", L"\u6587"},
        {L"StringFileInfo\\040704B0\\ProductName", std::nullopt},  // another language
        {L"StringFileInfo\\040904B0\\Product", std::nullopt},
        {L"StringFileInfo\\040904B0\\ProductName\\More", std::nullopt},
        {L"VarFileInfo\\Translation", std::nullopt},  // binary, not text
        {L"StringFileInfo\\040904B0", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VersionInfoString(block, c.path), c.expected) << c.path;
    }
    Node renamed = Block();
    renamed.key = u"VS_VERSION";
    EXPECT_FALSE(VersionInfoString(Encode(renamed), L"StringFileInfo\\040904B0\\ProductName"));
}

TEST(VersionInfo, ADamagedBlockGivesNothingAndIsNeverReadPastItsEnd) {
    const std::string block = Encode(Block());
    const wchar_t* const path = L"StringFileInfo\\040904B0\\ProductName";
    for (std::size_t size = 0; size < block.size(); ++size) {
        // Kept in a buffer of its own size, so a read past it shows under the sanitizers.
        const std::vector<char> cut(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_FALSE(VersionInfoString(std::string_view(cut.data(), cut.size()), path)) << size;
    }
    const std::size_t strings = block.find(std::string("S\0t\0r\0i\0n\0g\0F", 13)) - 6;
    struct Damage {
        const char* what;
        std::size_t at;
        std::size_t word;
    };
    for (const Damage& damage :
         {Damage{"a child longer than its parent", strings, 0xFFF0},
          Damage{"a child shorter than its header", strings, 2}, Damage{"a child of no length", strings, 0}}) {
        std::string bad = block;
        PutWord(bad, damage.at, damage.word);
        EXPECT_FALSE(VersionInfoString(bad, path)) << damage.what;
    }
    // A text value that claims more than its node holds is cut at the node's end.
    std::string longValue = block;
    const std::size_t product = block.find(std::string("P\0r\0o\0d\0u\0c\0t\0N", 16)) - 6;
    PutWord(longValue, product + 2, 0x7000);
    const auto clipped = VersionInfoString(longValue, path);
    ASSERT_TRUE(clipped);
    EXPECT_EQ(*clipped, L"UpdateTessaloom");
}

}  // namespace
}  // namespace tessaloom::test
