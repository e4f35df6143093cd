#pragma once
// Win32 failures as run-time errors: the system's code and its FormatMessageW text.

#include <windows.h>

#include "core/error.h"

namespace tessaloom {

// The system's message text for an error code, without its trailing line break.
std::wstring SystemMessage(DWORD code);

// A run-time error for a system error code (GetLastError or a returned status).
RuntimeError SystemError(DWORD code);

// A run-time error for the calling thread's last error.
RuntimeError LastError();

}  // namespace tessaloom
