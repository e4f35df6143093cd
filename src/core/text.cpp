#include "core/text.h"

namespace tessaloom {

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
