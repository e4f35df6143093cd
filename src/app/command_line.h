#pragma once
// Splitting the updater's command line.

#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"

namespace tessaloom {

// The process-wide argument table: entry 0 is never filled, entries 1 to
// CommandArgCount hold the space-separated words in command-line order.
struct ArgumentTable {
    std::vector<std::wstring> CommandArgs{2};
    int CommandArgCount = 0;
};

ArgumentTable& ProcessArguments();

// Runs of non-space characters; quotes and tabs are ordinary characters.
ArgumentTable SplitArguments(std::wstring_view commandLine);

}  // namespace tessaloom
