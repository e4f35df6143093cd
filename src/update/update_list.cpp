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
//   is an empty list. Without it, each field goes through the ANSI decoder.
//
// Fields are split on bytes before decoding. That is safe for every ANSI code
// page the system can have: the trail bytes of the double-byte code pages are
// never below 0x40, so they are never a comma, quote, space, tab, CR, LF or NUL,
// and in UTF-8 no byte of a multi-byte sequence is below 0x80.

#include "update/update_list.h"

#include <cstddef>
#include <cstdint>

namespace tessaloom {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr char32_t kReplacement = 0xFFFD;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }
bool IsSeparator(char c) { return c == ',' || IsLineEnd(c); }

void AppendCodePoint(std::wstring& text, char32_t code) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (code >= 0x10000) {
            code -= 0x10000;
            text.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
            text.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
            return;
        }
    }
    text.push_back(static_cast<wchar_t>(code));
}

// Strict UTF-8: overlong forms, surrogates and values above U+10FFFF are
// malformed; each maximal malformed part becomes one U+FFFD.
std::wstring DecodeUtf8(std::string_view bytes) {
    std::wstring text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<std::uint8_t>(bytes[i]);
        if (lead < 0x80) {
            text.push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t code = 0;
        std::uint8_t low = 0x80;  // allowed range of the second byte
        std::uint8_t high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0F;
            if (lead == 0xE0) {
                low = 0xA0;  // no overlong forms
            } else if (lead == 0xED) {
                high = 0x9F;  // no surrogates
            }
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07;
            if (lead == 0xF0) {
                low = 0x90;  // no overlong forms
            } else if (lead == 0xF4) {
                high = 0x8F;  // nothing above U+10FFFF
            }
        } else {
            AppendCodePoint(text, kReplacement);
            ++i;
            continue;
        }
        std::size_t used = 1;
        while (used < length && i + used < bytes.size()) {
            const auto next = static_cast<std::uint8_t>(bytes[i + used]);
            const bool fits = used == 1 ? (next >= low && next <= high) : (next >= 0x80 && next <= 0xBF);
            if (!fits) {
                break;
            }
            code = (code << 6) | (next & 0x3F);
            ++used;
        }
        AppendCodePoint(text, used == length ? code : kReplacement);
        i += used;
    }
    return text;
}

class Reader {
public:
    Reader(std::string_view bytes, bool utf8, const AnsiDecoder& decodeAnsi)
        : bytes_(bytes), utf8_(utf8), decodeAnsi_(decodeAnsi) {}

    [[nodiscard]] bool AtEnd() const { return pos_ == bytes_.size(); }

    // True when nothing but spaces and tabs is left.
    [[nodiscard]] bool OnlyBlanksLeft() const {
        for (std::size_t i = pos_; i < bytes_.size(); ++i) {
            if (!IsBlank(bytes_[i])) {
                return false;
            }
        }
        return true;
    }

    // Reads one field and the separator that ends it.
    std::wstring Field() {
        while (!AtEnd() && IsBlank(bytes_[pos_])) {
            ++pos_;
        }
        std::string_view value;
        if (!AtEnd() && bytes_[pos_] == '"') {
            ++pos_;
            const std::size_t start = pos_;
            while (!AtEnd() && bytes_[pos_] != '"' && !IsLineEnd(bytes_[pos_])) {
                ++pos_;
            }
            value = bytes_.substr(start, pos_ - start);
            if (!AtEnd() && bytes_[pos_] == '"') {
                ++pos_;
                while (!AtEnd() && !IsSeparator(bytes_[pos_])) {
                    ++pos_;  // text after the closing quote is dropped
                }
            }
        } else {
            const std::size_t start = pos_;
            while (!AtEnd() && !IsSeparator(bytes_[pos_])) {
                ++pos_;
            }
            std::size_t end = pos_;
            while (end > start && IsBlank(bytes_[end - 1])) {
                --end;
            }
            value = bytes_.substr(start, end - start);
        }
        SkipSeparator();
        return Decode(value);
    }

private:
    void SkipSeparator() {
        if (AtEnd()) {
            return;
        }
        const char c = bytes_[pos_++];
        if (c == '\r' && !AtEnd() && bytes_[pos_] == '\n') {
            ++pos_;
        }
    }

    [[nodiscard]] std::wstring Decode(std::string_view value) const {
        if (value.empty()) {
            return {};
        }
        std::wstring text = utf8_ ? DecodeUtf8(value) : decodeAnsi_(value);
        for (wchar_t& c : text) {
            if (c == L'\0') {
                c = static_cast<wchar_t>(kReplacement);
            }
        }
        return text;
    }

    std::string_view bytes_;
    bool utf8_;
    const AnsiDecoder& decodeAnsi_;
    std::size_t pos_ = 0;
};

}  // namespace

std::optional<UpdateList> ParseUpdateList(std::string_view bytes, const AnsiDecoder& decodeAnsi) {
    const bool utf8 = bytes.starts_with(kUtf8Mark);
    if (utf8) {
        bytes.remove_prefix(kUtf8Mark.size());
    }
    if (bytes.empty()) {
        return std::nullopt;
    }
    Reader reader(bytes, utf8, decodeAnsi);
    UpdateList list;
    list.networkPath = reader.Field();
    while (!reader.AtEnd() && !reader.OnlyBlanksLeft()) {
        list.names.push_back(reader.Field());
    }
    return list;
}

}  // namespace tessaloom
