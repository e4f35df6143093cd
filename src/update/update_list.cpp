// The update list reader.
//
// A list is a sequence of fields; the first is the network path, every further
// one a file name. A field ends at a comma or at a line end, and the separator
// is consumed with it; spaces before a field are skipped; a field that starts
// with a double quote holds the text up to the next double quote, commas and
// spaces included; a field with no text is the empty string; a separator that
// is the last thing in the input starts no further field.
//
// What the reader does with input that well-formed lists never contain:
// - Line ends: CR LF, a lone CR and a lone LF each end one field. "LF CR" is two
//   line ends, so it also gives an empty field between them.
// - Tabs count as spaces around a field: skipped in front of it and, with
//   spaces, dropped from the end of an unquoted field's text. Inside a field's
//   text (and anywhere inside quotes) they are kept.
// - A quoted field never spans lines: a line end before the closing quote ends
//   the field there (and is consumed as its separator), as does the end of the
//   input. So a quote that is never closed loses no more than its own line.
// - Text between a closing quote and the next separator is dropped.
// - A double quote that is not the first character of a field is ordinary text.
// - Spaces and tabs alone after the last separator start no field.
// - A NUL in a field becomes U+FFFD: a name with a NUL in it would otherwise be
//   cut short at the NUL by every system call and name a different file.
// - A UTF-8 byte-order mark at the start is dropped and the fields are decoded
//   as UTF-8 (malformed sequences become U+FFFD); input that is only the mark
//   is an empty list.
// - A UTF-16 byte-order mark at the start (FF FE little-endian, as Notepad saves
//   "Unicode"; FE FF big-endian) is dropped and the rest is read as 16-bit
//   code units in that byte order, under the same field rules; a NUL unit is
//   treated like a NUL byte, and input that is only the mark is an empty list.
//   An unpaired surrogate becomes U+FFFD. A lone byte left over at the end
//   also becomes U+FFFD rather than vanishing: a list cut short mid-character
//   then shows a visibly broken last name instead of quietly naming a
//   shorter, different file.
// - Without a byte-order mark, each field goes through the ANSI decoder.
//
// Fields are split on bytes (on code units for UTF-16) before decoding. That is
// safe for every ANSI code page the system can have: the trail bytes of the
// double-byte code pages are never below 0x40, so they are never a comma,
// quote, space, tab, CR, LF or NUL; in UTF-8 no byte of a multi-byte sequence
// is below 0x80; and in UTF-16 every character below U+0080 is one unit that
// is never part of a surrogate pair.

#include "update/update_list.h"

#include <cstddef>
#include <cstdint>

#include "core/text.h"

namespace tessaloom {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";

// `Unit` is char for ANSI and UTF-8, char16_t for UTF-16.
template <typename Unit>
bool IsBlank(Unit c) {
    return c == Unit{' '} || c == Unit{'\t'};
}
template <typename Unit>
bool IsLineEnd(Unit c) {
    return c == Unit{'\r'} || c == Unit{'\n'};
}
template <typename Unit>
bool IsSeparator(Unit c) {
    return c == Unit{','} || IsLineEnd(c);
}

// The code units of UTF-16 bytes in the given byte order; a lone last byte
// becomes U+FFFD (see the top of this file).
std::u16string Utf16Units(std::string_view bytes, bool bigEndian) {
    std::u16string units;
    units.reserve(bytes.size() / 2 + 1);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto first = static_cast<std::uint8_t>(bytes[i]);
        const auto second = static_cast<std::uint8_t>(bytes[i + 1]);
        units.push_back(static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first));
    }
    if (bytes.size() % 2 != 0) {
        units.push_back(static_cast<char16_t>(kReplacement));
    }
    return units;
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Each surrogate that is not half of a high-low pair becomes one U+FFFD.
std::wstring DecodeUtf16(std::u16string_view units) {
    std::wstring text;
    text.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (IsHighSurrogate(unit) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
            AppendCodePoint(text, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (char32_t{units[i + 1]} - 0xDC00));
            ++i;
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            AppendCodePoint(text, kReplacement);
        } else {
            text.push_back(static_cast<wchar_t>(unit));
        }
    }
    return text;
}

// Splits code units into fields; `decode` turns one field's units into text.
template <typename Unit, typename Decoder>
class Reader {
public:
    using Units = std::basic_string_view<Unit>;

    Reader(Units units, const Decoder& decode) : units_(units), decode_(decode) {}

    [[nodiscard]] bool AtEnd() const { return pos_ == units_.size(); }

    // True when nothing but spaces and tabs is left.
    [[nodiscard]] bool OnlyBlanksLeft() const {
        for (std::size_t i = pos_; i < units_.size(); ++i) {
            if (!IsBlank(units_[i])) {
                return false;
            }
        }
        return true;
    }

    // Reads one field and the separator that ends it.
    std::wstring Field() {
        while (!AtEnd() && IsBlank(units_[pos_])) {
            ++pos_;
        }
        Units value;
        if (!AtEnd() && units_[pos_] == Unit{'"'}) {
            ++pos_;
            const std::size_t start = pos_;
            while (!AtEnd() && units_[pos_] != Unit{'"'} && !IsLineEnd(units_[pos_])) {
                ++pos_;
            }
            value = units_.substr(start, pos_ - start);
            if (!AtEnd() && units_[pos_] == Unit{'"'}) {
                ++pos_;
                while (!AtEnd() && !IsSeparator(units_[pos_])) {
                    ++pos_;  // text after the closing quote is dropped
                }
            }
        } else {
            const std::size_t start = pos_;
            while (!AtEnd() && !IsSeparator(units_[pos_])) {
                ++pos_;
            }
            std::size_t end = pos_;
            while (end > start && IsBlank(units_[end - 1])) {
                --end;
            }
            value = units_.substr(start, end - start);
        }
        SkipSeparator();
        return Decode(value);
    }

private:
    void SkipSeparator() {
        if (AtEnd()) {
            return;
        }
        const Unit c = units_[pos_++];
        if (c == Unit{'\r'} && !AtEnd() && units_[pos_] == Unit{'\n'}) {
            ++pos_;
        }
    }

    [[nodiscard]] std::wstring Decode(Units value) const {
        if (value.empty()) {
            return {};
        }
        std::wstring text = decode_(value);
        for (wchar_t& c : text) {
            if (c == L'\0') {
                c = static_cast<wchar_t>(kReplacement);
            }
        }
        return text;
    }

    Units units_;  // bytes, or 16-bit units for UTF-16
    const Decoder& decode_;
    std::size_t pos_ = 0;
};

template <typename Unit, typename Decoder>
std::optional<UpdateList> ReadFields(std::basic_string_view<Unit> units, const Decoder& decode) {
    if (units.empty()) {
        return std::nullopt;
    }
    Reader<Unit, Decoder> reader(units, decode);
    UpdateList list;
    list.networkPath = reader.Field();
    while (!reader.AtEnd() && !reader.OnlyBlanksLeft()) {
        list.names.push_back(reader.Field());
    }
    return list;
}

}  // namespace

std::optional<UpdateList> ParseUpdateList(std::string_view bytes, const AnsiDecoder& decodeAnsi) {
    if (bytes.starts_with(kUtf8Mark)) {
        return ReadFields(bytes.substr(kUtf8Mark.size()), DecodeUtf8);
    }
    const bool utf16Le = bytes.starts_with(kUtf16LeMark);
    if (utf16Le || bytes.starts_with(kUtf16BeMark)) {
        const std::u16string units = Utf16Units(bytes.substr(kUtf16LeMark.size()), !utf16Le);
        return ReadFields(std::u16string_view(units), DecodeUtf16);
    }
    return ReadFields(bytes, decodeAnsi);
}

}  // namespace tessaloom
