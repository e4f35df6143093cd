#include "app/command_line.h"

#include <algorithm>

namespace tessaloom {

ArgumentTable& ProcessArguments() {
    static ArgumentTable table;
    return table;
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
