#include "core/text.h"

#include <cstdint>
#include <iterator>

namespace tessaloom {
namespace {

std::wstring Digits(std::uint64_t value, unsigned base, int digits) {
    std::wstring text;
    do {
        const auto digit = static_cast<unsigned>(value % base);
        text.insert(text.begin(), static_cast<wchar_t>(digit < 10 ? L'0' + digit : L'A' + digit - 10));
        value /= base;
    } while (value != 0);
    if (std::ssize(text) < digits) {
        text.insert(0, static_cast<std::size_t>(digits) - text.size(), L'0');
    }
    return text;
}

}  // namespace

std::wstring DecimalText(std::int64_t value, int digits) {
    // The magnitude of the most negative value too, in unsigned arithmetic.
    const std::uint64_t magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    return (value < 0 ? L"-" : L"") + Digits(magnitude, 10, digits);
}

std::wstring HexText(std::uint64_t value, int digits) { return Digits(value, 16, digits); }

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

std::string EncodeUtf8(std::wstring_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t code = static_cast<char32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                text[i + 1] <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<char32_t>(text[++i]) - 0xDC00);
            }
        }
        if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
            code = kReplacement;  // an unpaired surrogate has no UTF-8 form
        }
        if (code < 0x80) {
            bytes.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            bytes.push_back(static_cast<char>(0xC0 | (code >> 6)));
            bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            bytes.push_back(static_cast<char>(0xE0 | (code >> 12)));
            bytes.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            bytes.push_back(static_cast<char>(0xF0 | (code >> 18)));
            bytes.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return bytes;
}

std::wstring_view TrimSpaces(std::wstring_view text) {
    const auto first = text.find_first_not_of(L' ');
    if (first == std::wstring_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

std::wstring_view AfterProgramName(std::wstring_view full) {
    if (!full.empty() && full.front() == L'"') {
        const auto close = full.find(L'"', 1);
        return close == std::wstring_view::npos ? std::wstring_view() : full.substr(close + 1);
    }
    const auto end = full.find_first_of(L" \t");
    return end == std::wstring_view::npos ? std::wstring_view() : full.substr(end);
}

std::size_t NameStart(std::wstring_view path) {
    const auto cut = path.find_last_of(L"\\/:");
    return cut == std::wstring_view::npos ? 0 : cut + 1;
}

std::wstring_view FolderPart(std::wstring_view path) {
    const std::size_t start = NameStart(path);
    return start == 0 ? std::wstring_view() : path.substr(0, start - 1);
}

}  // namespace tessaloom
