#include "services/registry.h"

#include <cstdint>
#include <algorithm>
#include <string_view>
#include <string>

#include "core/error.h"
#include "core/text.h"
#include "win32/handles.h"

namespace tessaloom::Module1 {
namespace {

// Strings are written in UTF-16, so a path the ANSI code page cannot spell is stored intact.
std::wstring AsText(const RegistryData& data) {
    if (const auto* text = std::get_if<std::wstring>(&data)) {
        return *text;
    }
    return DecimalText(std::get<std::int32_t>(data));
}

// A number given as text: optional blanks, an optional sign, then decimal
// digits only, within the range of a DWORD value read as signed.
std::int32_t AsNumber(const RegistryData& data) {
    if (const auto* number = std::get_if<std::int32_t>(&data)) {
        return *number;
    }
    std::wstring_view text = std::get<std::wstring>(data);
    text.remove_prefix(std::min(text.find_first_not_of(L" \t\n\v\f\r"), text.size()));
    const bool negative = !text.empty() && text.front() == L'-';
    if (!text.empty() && (text.front() == L'-' || text.front() == L'+')) {
        text.remove_prefix(1);
    }
    std::int64_t magnitude = 0;
    for (const wchar_t digit : text) {
        if (digit < L'0' || digit > L'9' || (magnitude = magnitude * 10 + (digit - L'0')) > 0x80000000LL) {
            throw RuntimeError(kErrTypeMismatch, L"Type mismatch");
        }
    }
    if (text.empty() || (!negative && magnitude > INT32_MAX)) {
        throw RuntimeError(kErrTypeMismatch, L"Type mismatch");
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace

void RegisterOpenCommand(const std::wstring& DocumentPath, const std::wstring& ProgramPath) {
    SetClassesRootValue(DocumentPath + L".Document\\shell\\open\\command", L" ", ProgramPath + L" %1", REG_SZ);
}

void SetClassesRootValue(const std::wstring& KeyPath, const std::wstring& ValueName, const RegistryData& ValueData,
                         DWORD ValueType) {
    UniqueKey key;
    // No registry view is named: the updater is 32-bit and runs under WOW64 on
    // 64-bit Windows, but a document type's keys below HKEY_CLASSES_ROOT are
    // shared by the 32-bit and 64-bit views from Windows 7 on (only CLSID,
    // Interface and the like are redirected), so the 64-bit main program reads
    // what is written here.
    // 0x3F, without any standard rights.
    constexpr REGSAM kAccess =
        KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY | KEY_CREATE_LINK;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, KeyPath.c_str(), 0, kAccess, key.Put()) != ERROR_SUCCESS) {
        return;  // the key is absent or closed to us: nothing to write, nothing to report
    }
    WriteRegistryValue(key.Get(), ValueName, ValueType, ValueData);
}

LSTATUS WriteRegistryValue(HKEY KeyHandle, const std::wstring& ValueName, DWORD ValueType,
                           const RegistryData& ValueData) {
    if (ValueType == REG_SZ) {
        const std::wstring text = AsText(ValueData);
        const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));  // with its NUL
        return RegSetValueExW(KeyHandle, ValueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                              bytes);
    }
    if (ValueType == REG_DWORD) {
        const std::int32_t number = AsNumber(ValueData);
        return RegSetValueExW(KeyHandle, ValueName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                              sizeof number);
    }
    return ERROR_SUCCESS;
}

}  // namespace tessaloom::Module1
