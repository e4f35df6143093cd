#include "app/command_line.h"

#include <algorithm>

namespace tessaloom {

ArgumentTable& ProcessArguments() {
    static ArgumentTable table;
    return table;
}

std::wstring_view AfterProgramName(std::wstring_view full) {
    if (!full.empty() && full.front() == L'"') {
        const auto close = full.find(L'"', 1);
        return close == std::wstring_view::npos ? std::wstring_view() : full.substr(close + 1);
    }
    const auto end = full.find_first_of(L" \t");
    return end == std::wstring_view::npos ? std::wstring_view() : full.substr(end);
}

std::wstring_view TrimSpaces(std::wstring_view text) {
    const auto first = text.find_first_not_of(L' ');
    if (first == std::wstring_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

ArgumentTable SplitArguments(std::wstring_view commandLine) {
    ArgumentTable table;
    table.CommandArgs.resize(1);  // entry 0 is never filled
    std::wstring_view rest = TrimSpaces(commandLine);
    while (!rest.empty()) {
        const auto space = rest.find(L' ');
        table.CommandArgs.emplace_back(rest.substr(0, space));
        ++table.CommandArgCount;
        rest = space == std::wstring_view::npos ? std::wstring_view() : TrimSpaces(rest.substr(space));
    }
    table.CommandArgs.resize(std::max<std::size_t>(table.CommandArgs.size(), 2));
    return table;
}

}  // namespace tessaloom
