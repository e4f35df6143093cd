// Feeds arbitrary bytes to the update list reader. Beyond the sanitizers'
// checks it asserts what callers rely on: a list for every non-empty input,
// never a NUL in a field, and no more fields than the input has bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "update/update_list.h"

namespace {

// Each byte becomes the character of the same value.
std::wstring Latin1(std::string_view bytes) {
    std::wstring text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return text;
}

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool HasNul(const std::wstring& text) { return text.find(L'\0') != std::wstring::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::optional<tessaloom::UpdateList> list = tessaloom::ParseUpdateList(bytes, Latin1);
    const bool onlyMark = bytes == "\xEF\xBB\xBF" || bytes == "\xFF\xFE" || bytes == "\xFE\xFF";
    Check(list.has_value() == (size != 0 && !onlyMark));
    if (!list) {
        return 0;
    }
    Check(!HasNul(list->networkPath));
    Check(list->names.size() <= size);
    for (const std::wstring& name : list->names) {
        Check(!HasNul(name));
        Check(name.size() <= size);
    }
    return 0;
}
