#include "win32/error.h"

namespace tessaloom {

std::wstring RuntimeErrorText(const RuntimeError& error) {
    std::wstring description = error.Description();
    // System messages end in a line break; the box shows one line per fact.
    while (!description.empty() &&
           (description.back() == L'\n' || description.back() == L'\r' || description.back() == L' ')) {
        description.pop_back();
    }
    return L"Run-time error '" + std::to_wstring(error.Number()) + L"':\n\n" + description;
}

}  // namespace tessaloom
