#include "update/file_names.h"

#include <algorithm>
#include <array>
#include <cwctype>

#include "core/text.h"

namespace tessaloom {
namespace {

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices, with or without an extension.
bool IsReservedDeviceName(std::wstring_view component) {
    const std::wstring_view stem = component.substr(0, component.find(L'.'));
    std::wstring upper(stem);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
    static constexpr std::array<std::wstring_view, 4> kPlain = {L"CON", L"PRN", L"AUX", L"NUL"};
    if (std::find(kPlain.begin(), kPlain.end(), upper) != kPlain.end()) {
        return true;
    }
    return upper.size() == 4 && (upper.starts_with(L"COM") || upper.starts_with(L"LPT")) && upper[3] >= L'1' &&
           upper[3] <= L'9';
}

}  // namespace

bool IsPlainRelativeName(std::wstring_view name) {
    if (name.empty() || IsSeparator(name.front())) {
        return false;  // empty, rooted, UNC or device path
    }
    if (name.find_first_of(L"*?:\"<>|") != std::wstring_view::npos) {
        return false;  // wildcards, drives, streams and characters no file name holds
    }
    if (std::any_of(name.begin(), name.end(), [](wchar_t c) { return c < 0x20; })) {
        return false;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        const auto end =
            std::find_if(name.begin() + static_cast<std::ptrdiff_t>(start), name.end(), IsSeparator) - name.begin();
        const std::wstring_view component = name.substr(start, static_cast<std::size_t>(end) - start);
        // Windows drops trailing dots and spaces, so "..." or "a. " would not mean what they say.
        if (component.empty() || component.back() == L'.' || component.back() == L' ' ||
            IsReservedDeviceName(component)) {
            return false;
        }
        start = static_cast<std::size_t>(end) + 1;
    }
    return true;
}

std::wstring BackupName(std::wstring_view name) {
    const std::size_t at = NameStart(name);
    return std::wstring(name.substr(0, at)) + L"OLD" + std::wstring(name.substr(at));
}

}  // namespace tessaloom
