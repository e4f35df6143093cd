#pragma once
// The open command for the updater's own document type, below HKEY_CLASSES_ROOT.

#include <windows.h>

#include <cstdint>
#include <string>
#include <variant>

#include "core/seams.h"

namespace tessaloom::Module1 {

using RegistryData = std::variant<std::wstring, std::int32_t>;

// Stores "<ProgramPath> %1" as the value " " of the key
// "<DocumentPath>.Document\shell\open\command" when that key exists.
void RegisterOpenCommand(const std::wstring& DocumentPath, const std::wstring& ProgramPath);
// Opens an existing key below HKEY_CLASSES_ROOT (never creating it) and writes one value.
void SetClassesRootValue(const std::wstring& KeyPath, const std::wstring& ValueName, const RegistryData& ValueData,
                         DWORD ValueType);
// Writes a REG_SZ or REG_DWORD value; any other type writes nothing. Returns the status.
LSTATUS WriteRegistryValue(HKEY KeyHandle, const std::wstring& ValueName, DWORD ValueType,
                           const RegistryData& ValueData);

}  // namespace tessaloom::Module1

namespace tessaloom {

class Win32Registry final : public Registry {
public:
    void RegisterOpenCommand(const std::wstring& documentPath, const std::wstring& programPath) override {
        Module1::RegisterOpenCommand(documentPath, programPath);
    }
};

}  // namespace tessaloom
