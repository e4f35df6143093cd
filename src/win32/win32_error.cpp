#include "win32/win32_error.h"

#include "core/text.h"

namespace tessaloom {

std::wstring SystemMessage(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length != 0 ? std::wstring(buffer, length) : std::wstring();
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
        text.pop_back();
    }
    if (text.empty()) {
        text = L"System error " + DecimalText(code);
    }
    return text;
}

RuntimeError SystemError(DWORD code) { return {static_cast<std::int32_t>(code), SystemMessage(code)}; }

RuntimeError LastError() { return SystemError(GetLastError()); }

}  // namespace tessaloom
