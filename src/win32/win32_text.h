#pragma once
// Conversions between the program's UTF-16 strings and byte text, only at the boundary.

#include <windows.h>

#include <string>
#include <string_view>

namespace tessaloom {

std::wstring ToWide(std::string_view bytes, UINT codePage);
std::string ToBytes(std::wstring_view text, UINT codePage);

}  // namespace tessaloom
