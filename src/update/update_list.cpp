#include "update/update_list.h"

namespace tessaloom {

std::optional<UpdateList> ParseUpdateList(std::string_view bytes, const AnsiDecoder& decodeAnsi) {
    if (bytes.empty()) {
        return std::nullopt;
    }
    UpdateList list;
    list.networkPath = decodeAnsi(bytes);
    return list;
}

}  // namespace tessaloom
