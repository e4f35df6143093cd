#pragma once
// DLLs of the system loaded at run time, by their full path in System32, and
// their functions bound by name. The executable imports only KnownDLLs,
// which the loader takes from System32 whatever lies beside the executable;
// every other DLL comes through here, never from the search path.

#include <windows.h>

namespace tessaloom {

// Points `function` at a function of a module, or at null where the module
// or the function is missing.
template <typename Function>
void Bind(Function*& function, HMODULE module, const char* name) {
    // Through the generic function pointer type, which converts to any other.
    function = module == nullptr
                   ? nullptr
                   : reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// A DLL of the system, loaded from System32 by its full path, never from the
// search path; null when it cannot be loaded.
HMODULE LoadSystemModule(const wchar_t* name);

}  // namespace tessaloom
