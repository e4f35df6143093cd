#include "update/update_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessaloom {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Each byte becomes the character of the same value, as code page 1252 does
// for the letters these tests use.
std::wstring Latin1(std::string_view bytes) {
    std::wstring text;
    for (const char c : bytes) {
        text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return text;
}

UpdateList Parse(std::string_view bytes) {
    std::optional<UpdateList> list = ParseUpdateList(bytes, Latin1);
    EXPECT_TRUE(list.has_value()) << "no list for: " << ::testing::PrintToString(std::string(bytes));
    return list.value_or(UpdateList{});
}

TEST(ParseUpdateList, EmptyInputIsNoList) {
    EXPECT_FALSE(ParseUpdateList("", Latin1).has_value());
    EXPECT_FALSE(ParseUpdateList("\xEF\xBB\xBF", Latin1).has_value());
}

TEST(ParseUpdateList, OneFieldPerLineAndAllOnOneLineReadAlike) {
    for (const std::string_view bytes : {
             "\\\\server\\share\r\nTessaloom.exe\r\nhelp.chm\r\n",
             "\\\\server\\share\r\nTessaloom.exe\r\nhelp.chm",
             "\\\\server\\share,Tessaloom.exe,help.chm\r\n",
             "\"\\\\server\\share\",\"Tessaloom.exe\",\"help.chm\"",
             "\"\\\\server\\share\"\r\n\"Tessaloom.exe\"\r\n\"help.chm\"\r\n",
         }) {
        const UpdateList list = Parse(bytes);
        EXPECT_EQ(list.networkPath, L"\\\\server\\share");
        EXPECT_THAT(list.names, ElementsAre(L"Tessaloom.exe", L"help.chm"))
            << ::testing::PrintToString(std::string(bytes));
    }
}

TEST(ParseUpdateList, OnlyTheNetworkPathGivesNoNames) {
    for (const std::string_view bytes : {"\\\\server\\share", "\\\\server\\share\r\n", "\\\\server\\share,"}) {
        const UpdateList list = Parse(bytes);
        EXPECT_EQ(list.networkPath, L"\\\\server\\share");
        EXPECT_THAT(list.names, IsEmpty());
    }
}

TEST(ParseUpdateList, OnlyALineEndIsAnEmptyNetworkPath) {
    const UpdateList list = Parse("\r\n");
    EXPECT_EQ(list.networkPath, L"");
    EXPECT_THAT(list.names, IsEmpty());
}

TEST(ParseUpdateList, QuotesKeepCommasAndSpacesAndLeadingSpacesAreSkipped) {
    const UpdateList list = Parse("  net , \"a, b.dll\",   c.dll,\"  d .dll \"\r\n");
    EXPECT_EQ(list.networkPath, L"net");
    EXPECT_THAT(list.names, ElementsAre(L"a, b.dll", L"c.dll", L"  d .dll "));
}

TEST(ParseUpdateList, EmptyFieldsAreEmptyNamesInPlace) {
    // An empty line, a comma before a line end, two commas, an empty quoted field.
    const UpdateList list = Parse("net\r\na\r\n\r\nb,\r\nc,,d,\"\"\r\ne");
    EXPECT_THAT(list.names, ElementsAre(L"a", L"", L"b", L"", L"c", L"", L"d", L"", L"e"));
}

TEST(ParseUpdateList, AFinalEmptyLineIsOneEmptyName) {
    EXPECT_THAT(Parse("net\r\na\r\n\r\n").names, ElementsAre(L"a", L""));
    EXPECT_THAT(Parse("net\r\na\r\n\r\n\r\n").names, ElementsAre(L"a", L"", L""));
}

TEST(ParseUpdateList, NamesAreTakenUnchangedDuplicatesIncluded) {
    const UpdateList list = Parse("net\r\na.dll\r\na.dll\r\nsub\\b.dll\r\n*.dll\r\n..\\x");
    EXPECT_THAT(list.names, ElementsAre(L"a.dll", L"a.dll", L"sub\\b.dll", L"*.dll", L"..\\x"));
}

TEST(ParseUpdateList, LoneCarriageReturnsAndLineFeedsEndFields) {
    EXPECT_THAT(Parse("net\na\nb\n").names, ElementsAre(L"a", L"b"));
    EXPECT_THAT(Parse("net\ra\rb\r").names, ElementsAre(L"a", L"b"));
    EXPECT_THAT(Parse("net\n\ra\r\rb").names, ElementsAre(L"", L"a", L"", L"b"));
}

TEST(ParseUpdateList, TabsAndSpacesAroundUnquotedFieldsAreDropped) {
    const UpdateList list = Parse("\t net \t,\ta b\t ,\" q\t\" ,x\ty");
    EXPECT_EQ(list.networkPath, L"net");
    EXPECT_THAT(list.names, ElementsAre(L"a b", L" q\t", L"x\ty"));
}

TEST(ParseUpdateList, BlanksAfterTheLastSeparatorStartNoField) {
    EXPECT_THAT(Parse("net\r\na\r\n  \t ").names, ElementsAre(L"a"));
    EXPECT_THAT(Parse("net,a,  ").names, ElementsAre(L"a"));
    EXPECT_EQ(Parse("   ").networkPath, L"");
}

TEST(ParseUpdateList, AQuoteNeverClosedEndsAtTheLineEnd) {
    EXPECT_THAT(Parse("net\r\n\"a, b\r\nc\r\n").names, ElementsAre(L"a, b", L"c"));
    EXPECT_THAT(Parse("net\r\n\"a, b").names, ElementsAre(L"a, b"));
    EXPECT_THAT(Parse("net,\"").names, ElementsAre(L""));
}

TEST(ParseUpdateList, TextAfterAClosingQuoteIsDroppedAndInnerQuotesAreText) {
    EXPECT_THAT(Parse("net,\"a\"bc,d").names, ElementsAre(L"a", L"d"));
    EXPECT_THAT(Parse("net,\"a\" \"b\",d\r\n").names, ElementsAre(L"a", L"d"));
    EXPECT_THAT(Parse("net,a\"b\"c,d").names, ElementsAre(L"a\"b\"c", L"d"));
}

TEST(ParseUpdateList, NulBecomesAReplacementCharacter) {
    using namespace std::string_view_literals;
    EXPECT_THAT(Parse("net\r\na.dll\0..\\x\r\n"sv).names, ElementsAre(L"a.dll\uFFFD..\\x"));
}

TEST(ParseUpdateList, EachFieldGoesThroughTheAnsiDecoderWithoutSeparators) {
    std::vector<std::string> seen;
    const AnsiDecoder recording = [&seen](std::string_view bytes) {
        seen.emplace_back(bytes);
        return std::wstring(L"<") + Latin1(bytes) + L">";
    };
    const std::optional<UpdateList> list = ParseUpdateList("net\r\n\"\xE9t\xE9.dll\",, b\x81\x5C\r\n", recording);
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(list->networkPath, L"<net>");
    EXPECT_THAT(list->names, ElementsAre(L"<\u00E9t\u00E9.dll>", L"", L"<b\u0081\\>"));
    EXPECT_THAT(seen, ElementsAre("net", "\xE9t\xE9.dll", "b\x81\x5C"));
}

TEST(ParseUpdateList, AByteOrderMarkMeansUtf8) {
    const AnsiDecoder never = [](std::string_view) -> std::wstring {
        ADD_FAILURE() << "the ANSI decoder was used for UTF-8 text";
        return {};
    };
    const std::optional<UpdateList> list =
        ParseUpdateList("\xEF\xBB\xBFnet\r\n\xC3\xA9t\xC3\xA9.dll,\xE6\x97\xA5\xF0\x9F\x98\x80\r\n", never);
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(list->networkPath, L"net");
    std::wstring emoji;
    if constexpr (sizeof(wchar_t) == 2) {
        emoji = L"\xD83D\xDE00";
    } else {
        emoji.push_back(static_cast<wchar_t>(0x1F600));
    }
    EXPECT_THAT(list->names, ElementsAre(L"\u00E9t\u00E9.dll", L"\u65E5" + emoji));
}

TEST(ParseUpdateList, MalformedUtf8BecomesReplacementCharacters) {
    // A stray continuation byte, an overlong slash, an encoded surrogate, a cut sequence.
    const UpdateList list = Parse(
        "\xEF\xBB\xBFnet,a\x80"
        "b,\xC0\xAF,\xED\xA0\x80,c\xE6\x97");
    EXPECT_THAT(list.names, ElementsAre(L"a\uFFFDb", L"\uFFFD\uFFFD", L"\uFFFD\uFFFD\uFFFD", L"c\uFFFD"));
}

// `units` as UTF-16 bytes with a byte-order mark in front.
std::string Utf16(std::u16string_view units, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : units) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

// The network path then the names; nothing at all for no list.
std::vector<std::wstring> Fields(const std::optional<UpdateList>& list) {
    std::vector<std::wstring> fields;
    if (list) {
        fields.push_back(list->networkPath);
        fields.insert(fields.end(), list->names.begin(), list->names.end());
    }
    return fields;
}

TEST(ParseUpdateList, Utf16ListsReadLikeTheirAnsiTwins) {
    using namespace std::string_view_literals;
    for (const std::string_view ansi : {
             ""sv,
             "\\\\server\\share\r\nTessaloom.exe\r\n\xE9t\xE9.dll\r\n"sv,
             "  net , \"a, b.dll\",\t c.dll ,\"\",,\"q\"x,\"open\r\nlast,  "sv,
             "net\n\ra\r\rb\nc,\r\n\r\n"sv,
             "net\r\na\0b\r\n\0"sv,
         }) {
        std::u16string units;  // for these letters code page 1252 and UTF-16 agree
        for (const char c : ansi) {
            units.push_back(static_cast<unsigned char>(c));
        }
        const std::vector<std::wstring> expected = Fields(ParseUpdateList(ansi, Latin1));
        for (const bool bigEndian : {false, true}) {
            EXPECT_EQ(Fields(ParseUpdateList(Utf16(units, bigEndian), Latin1)), expected)
                << ::testing::PrintToString(std::string(ansi)) << (bigEndian ? " big-endian" : " little-endian");
        }
    }
}

TEST(ParseUpdateList, MalformedUtf16BecomesReplacementCharacters) {
    // A high surrogate cut off by a comma, a lone low one, a reversed pair, a
    // proper pair (U+1F600, as in UTF-8), lone high ones in the middle of
    // names (before a letter, a line end, a pair), and a last byte with no partner.
    const std::wstring pair = Parse("\xEF\xBB\xBF\xF0\x9F\x98\x80").networkPath;
    const std::u16string_view units =
        u"net,a\xD800,\xDC00"
        u"b,\xDC00\xD800,\xD83D\xDE00,x\xDBFFy.dll\r\nsub\xD800\r\n\xD800\xD83D\xDE00q,z";
    for (const bool bigEndian : {false, true}) {
        EXPECT_THAT(Fields(ParseUpdateList(Utf16(units, bigEndian) + "\x01", Latin1)),
                    ElementsAre(L"net", L"a\uFFFD", L"\uFFFDb", L"\uFFFD\uFFFD", pair, L"x\uFFFDy.dll", L"sub\uFFFD",
                                L"\uFFFD" + pair + L"q", L"z\uFFFD"));
    }
}

}  // namespace
}  // namespace tessaloom
