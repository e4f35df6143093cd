#include "update/file_names.h"

#include <algorithm>
#include <array>
#include <cwctype>

#include "core/text.h"

namespace tessaloom {
namespace {

// CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9 and LPT0-9 (also with the
// superscript digits 1, 2 and 3) name devices, with or without an extension.
bool IsReservedDeviceName(std::wstring_view component) {
    const std::wstring stem = FoldedName(component.substr(0, component.find(L'.')));
    static constexpr std::array<std::wstring_view, 6> kPlain = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    if (std::find(kPlain.begin(), kPlain.end(), stem) != kPlain.end()) {
        return true;
    }
    const wchar_t digit = stem.size() == 4 ? stem[3] : L'\0';
    return (stem.starts_with(L"COM") || stem.starts_with(L"LPT")) &&
           ((digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3');
}

bool IsWorkingFileName(std::wstring_view component) {
    const std::wstring folded = FoldedName(component);
    return folded == FoldedName(kJournalName) || folded == FoldedName(kLockName) || folded.ends_with(FoldedName(kStagedSuffix)) ||
           folded.ends_with(FoldedName(kAsideSuffix));
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
            IsReservedDeviceName(component) || IsWorkingFileName(component)) {
            return false;
        }
        start = static_cast<std::size_t>(end) + 1;
    }
    return true;
}

std::wstring FoldedName(std::wstring_view name) {
    std::wstring folded;
    folded.reserve(name.size());
    for (const wchar_t c : name) {
        folded.push_back(IsSeparator(c) ? L'\\' : static_cast<wchar_t>(std::towupper(c)));
    }
    return folded;
}

std::wstring BackupName(std::wstring_view name) {
    const std::size_t at = NameStart(name);
    return std::wstring(name.substr(0, at)) + L"OLD" + std::wstring(name.substr(at));
}

}  // namespace tessaloom
