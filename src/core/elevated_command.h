#pragma once
// The command line of the updater's elevated instance: a marker no path can
// start with ('|' is not allowed in file names), the pipe its parent created
// and the parent's process id, which it checks before it reads anything.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/text.h"

namespace tessaloom {

inline constexpr std::wstring_view kElevatedMarker = L"|elevated";
// Every pipe between the window and its elevated instance is named so.
inline constexpr std::wstring_view kPipePrefix = L"\\\\.\\pipe\\TessaloomUpdate.";

// True for a name of one of our pipes: the prefix, then only letters, digits
// and dots. Nothing else is ever opened as the other end: not a file, not a
// device, not another program's pipe, nor a path that leaves the pipe
// namespace.
inline bool IsUpdaterPipeName(std::wstring_view name) {
    if (!name.starts_with(kPipePrefix) || name.size() == kPipePrefix.size() || name.size() > 256) {
        return false;
    }
    for (const wchar_t c : name.substr(kPipePrefix.size())) {
        const bool plain =
            (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'.';
        if (!plain) {
            return false;
        }
    }
    return true;
}

struct ElevatedCommand {
    std::wstring pipe;
    std::uint32_t parentId = 0;
};

inline std::wstring FormatElevatedCommand(const ElevatedCommand& command) {
    return std::wstring(kElevatedMarker) + L" " + command.pipe + L" " + DecimalText(command.parentId);
}

// The elevated instance's arguments, from the command line after the
// program's name; nothing for any other command line.
inline std::optional<ElevatedCommand> ParseElevatedCommand(std::wstring_view arguments) {
    arguments = TrimSpaces(arguments);
    if (!arguments.starts_with(kElevatedMarker) || !arguments.substr(kElevatedMarker.size()).starts_with(L' ')) {
        return std::nullopt;
    }
    arguments = TrimSpaces(arguments.substr(kElevatedMarker.size()));
    const std::size_t space = arguments.find(L' ');
    if (space == std::wstring_view::npos || space == 0) {
        return std::nullopt;
    }
    ElevatedCommand command{std::wstring(arguments.substr(0, space)), 0};
    const std::wstring_view id = TrimSpaces(arguments.substr(space));
    if (id.empty() || id.size() > 10) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const wchar_t c : id) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - L'0');
    }
    if (value == 0 || value > 0xFFFFFFFFULL) {
        return std::nullopt;
    }
    command.parentId = static_cast<std::uint32_t>(value);
    return command;
}

}  // namespace tessaloom
