#pragma once
// Byte text to the program's UTF-16 strings, only at the boundary.

#include <windows.h>

#include <string>
#include <string_view>

namespace tessaloom {

std::wstring ToWide(std::string_view bytes, UINT codePage);

}  // namespace tessaloom
