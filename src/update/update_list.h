#pragma once
// Reading the update list: bytes in, fields out. No <windows.h> here.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaloom {

struct UpdateList {
    std::wstring networkPath;         // the first field
    std::vector<std::wstring> names;  // every further field, in file order
};

// Turns bytes of the system's ANSI code page into text.
using AnsiDecoder = std::function<std::wstring(std::string_view)>;

// The fields of an update list. An empty input is no list at all (nullopt).
// Text is decoded with `decodeAnsi`, or as UTF-8 after a UTF-8 byte-order mark,
// or as UTF-16 after a UTF-16 byte-order mark of either byte order.
std::optional<UpdateList> ParseUpdateList(std::string_view bytes, const AnsiDecoder& decodeAnsi);

}  // namespace tessaloom
