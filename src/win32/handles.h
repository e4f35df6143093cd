#pragma once
// Move-only owners of Win32 handles, one type per kind of handle and its own
// "empty" value, so no logic code closes a handle by hand.

#include <windows.h>
#include <shlobj.h>

#include <utility>

namespace tessaloom {

template <typename Handle, Handle (*Empty)(), void (*Close)(Handle)>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, Empty())) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.handle_, Empty()));
        }
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    [[nodiscard]] Handle Get() const { return handle_; }
    [[nodiscard]] bool Valid() const { return handle_ != Empty(); }
    explicit operator bool() const { return Valid(); }

    void Reset(Handle handle = Empty()) {
        if (handle_ != Empty()) {
            Close(handle_);
        }
        handle_ = handle;
    }
    // For out-parameters: releases what is held and hands out the slot.
    Handle* Put() {
        Reset();
        return &handle_;
    }
    Handle Release() { return std::exchange(handle_, Empty()); }

private:
    Handle handle_ = Empty();
};

namespace detail {
inline HANDLE InvalidHandle() { return INVALID_HANDLE_VALUE; }
inline HANDLE NullHandle() { return nullptr; }
inline HKEY NullKey() { return nullptr; }
inline HGDIOBJ NullGdi() { return nullptr; }
inline PIDLIST_ABSOLUTE NullIdList() { return nullptr; }
inline HICON NullIcon() { return nullptr; }
inline HDC NullDc() { return nullptr; }
inline HWND NullWindow() { return nullptr; }
inline HMODULE NullModule() { return nullptr; }
inline void CloseFile(HANDLE h) { CloseHandle(h); }
inline void CloseFind(HANDLE h) { FindClose(h); }
inline void CloseKey(HKEY h) { RegCloseKey(h); }
inline void DeleteGdi(HGDIOBJ h) { DeleteObject(h); }
inline void FreeIdList(PIDLIST_ABSOLUTE h) { ILFree(h); }  // the shell's own allocator, without loading ole32
inline void DestroyIconHandle(HICON h) { DestroyIcon(h); }
inline void DeleteDcHandle(HDC h) { DeleteDC(h); }
inline void DestroyWindowHandle(HWND h) { DestroyWindow(h); }
inline void FreeLibraryHandle(HMODULE h) { FreeLibrary(h); }
}  // namespace detail

// Files opened with CreateFileW: empty is INVALID_HANDLE_VALUE.
using UniqueFile = UniqueHandle<HANDLE, detail::InvalidHandle, detail::CloseFile>;
// Processes and threads: empty is null.
using UniqueKernelHandle = UniqueHandle<HANDLE, detail::NullHandle, detail::CloseFile>;
// Directory listings from FindFirstFileW: empty is INVALID_HANDLE_VALUE.
using UniqueFind = UniqueHandle<HANDLE, detail::InvalidHandle, detail::CloseFind>;
using UniqueKey = UniqueHandle<HKEY, detail::NullKey, detail::CloseKey>;
using UniqueGdiObject = UniqueHandle<HGDIOBJ, detail::NullGdi, detail::DeleteGdi>;
// Shell item-id lists, freed through the shell's allocator.
using UniqueIdList = UniqueHandle<PIDLIST_ABSOLUTE, detail::NullIdList, detail::FreeIdList>;
// Icons from LoadImageW or CreateIconIndirect (not shared ones).
using UniqueIcon = UniqueHandle<HICON, detail::NullIcon, detail::DestroyIconHandle>;
// Memory device contexts from CreateCompatibleDC (not GetDC's, which are released).
using UniqueDc = UniqueHandle<HDC, detail::NullDc, detail::DeleteDcHandle>;
// Top-level windows we create; their child windows go with them.
using UniqueWindow = UniqueHandle<HWND, detail::NullWindow, detail::DestroyWindowHandle>;
// Modules from LoadLibraryExW.
using UniqueModule = UniqueHandle<HMODULE, detail::NullModule, detail::FreeLibraryHandle>;

}  // namespace tessaloom
