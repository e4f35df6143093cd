#pragma once
// Reading the update list: bytes in, fields out. No <windows.h> here.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/seams.h"

namespace tessaloom {

struct UpdateList {
    std::wstring networkPath;         // the first field
    std::vector<std::wstring> names;  // every further field, in file order
};

// The fields of an update list. An empty input is no list at all (nullopt).
// Text is decoded with `decodeAnsi`, or as UTF-8 after a UTF-8 byte-order mark,
// or as UTF-16 after a UTF-16 byte-order mark of either byte order.
std::optional<UpdateList> ParseUpdateList(std::string_view bytes, const AnsiDecoder& decodeAnsi);

}  // namespace tessaloom
