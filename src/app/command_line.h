#pragma once
// Splitting the updater's command line.

#include <string>
#include <string_view>
#include <vector>

namespace tessaloom {

// The process-wide argument table: entry 0 is never filled, entries 1 to
// CommandArgCount hold the space-separated words in command-line order.
struct ArgumentTable {
    std::vector<std::wstring> CommandArgs{2};
    int CommandArgCount = 0;
};

ArgumentTable& ProcessArguments();

// The text after the program's own name, delimited as Windows delimits it:
// up to the closing quote when the name is quoted, else up to a space or tab.
std::wstring_view AfterProgramName(std::wstring_view fullCommandLine);

// The text without leading and trailing space characters (tabs stay).
std::wstring_view TrimSpaces(std::wstring_view text);

// Runs of non-space characters; quotes and tabs are ordinary characters.
ArgumentTable SplitArguments(std::wstring_view commandLine);

}  // namespace tessaloom
