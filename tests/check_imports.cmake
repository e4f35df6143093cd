# Fails when the executable imports a DLL that is not part of Windows, or a
# function that Windows 7 SP1 does not export: such an executable would not
# even load there. Functions of newer systems are looked up at run time
# instead (src/ui/win32_newer_api.cpp).
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump COMMAND_ERROR_IS_FATAL ANY)

# What the executable may import, by DLL: every name here is exported by
# Windows 7 SP1 (x64). Add a name only after checking the oldest Windows that
# exports it; never add GetDpiForWindow, GetDpiForSystem, AdjustWindowRectExForDpi,
# GetSystemMetricsForDpi, SetDefaultDllDirectories, AddDllDirectory and the like.
set(allowed_kernel32
  CancelIo CancelIoEx CompareStringOrdinal ConnectNamedPipe CreateNamedPipeW FileTimeToLocalFileTime FileTimeToSystemTime
  GetNamedPipeClientProcessId GetNamedPipeServerProcessId GetOverlappedResult GetProcessId
  QueryFullProcessImageNameW SetNamedPipeHandleState
  AddVectoredExceptionHandler CloseHandle CopyFileW CreateDirectoryW CreateEventA CreateEventW CreateFileW CreateMutexW
  CreateProcessW CreateSemaphoreA DeleteCriticalSection DeleteFileW DuplicateHandle EnterCriticalSection
  FindClose FindFirstFileW FindNextFileW FindResourceW FlushFileBuffers FormatMessageW FreeLibrary GetCommandLineW
  GetCurrentProcess GetCurrentProcessId GetCurrentThread GetCurrentThreadId GetExitCodeProcess
  GetFileAttributesExW GetFileAttributesW GetFileSizeEx GetFileTime GetFullPathNameW GetHandleInformation
  GetLastError GetModuleFileNameW GetModuleHandleW GetProcAddress GetProcessAffinityMask GetStartupInfoW
  GetSystemDirectoryW GetSystemTimeAsFileTime GetTempPathW GetThreadContext GetThreadPriority GetTickCount
  GetTickCount64 InitializeCriticalSection IsDBCSLeadByteEx IsDebuggerPresent LeaveCriticalSection
  LoadLibraryExW LoadLibraryW LoadResource LocalFree LockResource MoveFileExW MoveFileW MulDiv MultiByteToWideChar OpenProcess
  OutputDebugStringA QueryPerformanceCounter RaiseException ReadFile ReleaseSemaphore RemoveDirectoryW
  RemoveVectoredExceptionHandler ResetEvent ResumeThread RtlCaptureContext RtlLookupFunctionEntry RtlUnwindEx
  RtlVirtualUnwind SetCurrentDirectoryW SetDllDirectoryW SetEvent SetFileAttributesW SetFilePointerEx SetFileTime SetLastError
  SetProcessAffinityMask SetThreadContext SetThreadErrorMode SetThreadPriority SetUnhandledExceptionFilter
  SizeofResource Sleep SuspendThread TlsAlloc TlsGetValue TlsSetValue TryEnterCriticalSection VirtualProtect VirtualQuery
  WaitForMultipleObjects WaitForSingleObject WideCharToMultiByte WriteFile __C_specific_handler)
set(allowed_user32
  AdjustWindowRectEx AllowSetForegroundWindow BeginPaint CharUpperBuffW CreateWindowExW DefWindowProcW DestroyIcon
  DestroyWindow DispatchMessageW DrawEdge DrawFocusRect DrawIconEx DrawTextW EnableMenuItem EndPaint FindWindowW FrameRect
  GetClassInfoExW GetClientRect GetDC GetDlgCtrlID GetFocus GetMessageW GetMonitorInfoW GetParent GetSystemMenu
  GetQueueStatus MsgWaitForMultipleObjectsEx
  FindWindowW GetSysColor GetSystemMetrics GetWindowLongPtrW GetWindowTextW InflateRect IntersectRect InvalidateRect
  IsChild IsDialogMessageW IsIconic IsWindow IsWindowVisible LoadCursorW LoadImageW MapWindowPoints MessageBoxW
  MonitorFromWindow NotifyWinEvent OffsetRect PeekMessageW PostMessageW PostQuitMessage PtInRect RedrawWindow
  RegisterClassExW
  ReleaseDC SendMessageW SetFocus SetForegroundWindow SetWindowLongPtrW SetWindowPos SetWindowTextW
  ShowWindow TranslateMessage UpdateWindow)
set(allowed_gdi32
  BitBlt CreateCompatibleBitmap CreateCompatibleDC CreateDIBSection CreateFontIndirectW CreatePen CreateSolidBrush DeleteDC
  DeleteObject ExtTextOutW GetDeviceCaps GetObjectW GetStockObject GetTextExtentPoint32W GetTextMetricsW
  IntersectClipRect RestoreDC RoundRect SaveDC SelectObject SetBkColor SetBkMode SetBrushOrgEx
  SetStretchBltMode SetTextColor StretchBlt)
set(allowed_advapi32 RegCloseKey RegCreateKeyExW RegDeleteValueW RegOpenKeyExW RegQueryValueExW RegSetValueExW)
set(allowed_shell32 ShellExecuteExW ILFree SHGetFolderPathW SHGetPathFromIDListEx SHGetPathFromIDListW SHGetSpecialFolderLocation
  ShellAboutW)
set(allowed_version GetFileVersionInfoSizeW GetFileVersionInfoW VerQueryValueW)
set(allowed_ole32 CoInitialize CoInitializeEx CoTaskMemAlloc CoTaskMemFree CoUninitialize)
set(allowed_oleaut32 SysAllocString SysAllocStringLen SysFreeString SysStringLen VariantClear VariantInit)
set(allowed_oleacc AccessibleObjectFromWindow CreateStdAccessibleObject LresultFromObject)
set(allowed_comctl32 DefSubclassProc InitCommonControlsEx RemoveWindowSubclass SetWindowSubclass)
set(allowed_uxtheme SetWindowTheme)
set(allowed_msimg32 AlphaBlend)
set(allowed_shlwapi PathFileExistsW)
set(allowed_msvcrt
  ___lc_codepage_func ___mb_cur_max_func __iob_func __set_app_type __setusermatherr __wgetmainargs __winitenv
  _amsg_exit _beginthreadex _cexit _close _commode _endthreadex _errno _fmode _initterm _onexit _read _setjmp
  _strdup _ultoa _wcmdln abort calloc exit fprintf fputc fputs fputwc free fwprintf fwrite iswctype localeconv
  longjmp malloc memchr memcmp memcpy memmove memset printf realloc signal strcmp strerror strlen strncmp
  towupper vfprintf wcslen)

set(dll "")
set(failures "")
string(REPLACE "\n" ";" lines "${dump}")
foreach(line IN LISTS lines)
  if(line MATCHES "DLL Name: ([^.]+)\\.[dD][lL][lL]")
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
    if(NOT DEFINED allowed_${dll})
      message(FATAL_ERROR "${EXE} imports ${dll}.dll, which does not ship with Windows")
    endif()
    message(STATUS "imports ${dll}.dll")
  elseif(dll AND line MATCHES "^\t[0-9a-fA-F]+\t +[0-9]+  ([A-Za-z0-9_]+)")
    if(NOT CMAKE_MATCH_1 IN_LIST allowed_${dll})
      list(APPEND failures "${dll}.dll!${CMAKE_MATCH_1}")
    endif()
  elseif(line MATCHES "^ *$|^ [0-9a-f]+\t")
    # blank lines and a table's header keep the current DLL
  endif()
endforeach()
if(failures)
  list(JOIN failures "\n  " listed)
  message(FATAL_ERROR "${EXE} imports functions not known to be on Windows 7 SP1:\n  ${listed}")
endif()
