# Fails when the executable is not a 32-bit (i386) Windows program, when it
# imports a DLL that is not one of the KnownDLLs, or a function that 32-bit
# Windows 7 SP1 does not export: such an executable would not even load there
# (a 64-bit one does not run on 32-bit Windows at all). The loader resolves
# any other DLL the executable imports from the application folder first,
# before the program runs a line, and the updater runs as administrator in a
# folder of the user's; such DLLs are loaded at run time from System32
# instead (src/win32/system_modules.h). Functions of newer systems are looked
# up at run time too (src/ui/win32_newer_api.cpp).
cmake_minimum_required(VERSION 3.25)
# The machine field of the PE header: 014c is i386, 8664 is x86-64. Read here
# rather than by objdump, which for i686 does not know a 64-bit file at all.
file(READ ${EXE} dos_header LIMIT 64 HEX)
string(LENGTH "${dos_header}" length)
if(NOT dos_header MATCHES "^4d5a" OR length LESS 128)
  message(FATAL_ERROR "${EXE} is not a Windows (MZ) executable")
endif()
string(SUBSTRING "${dos_header}" 120 8 e_lfanew)  # little-endian offset of "PE\0\0", at 0x3C
string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" e_lfanew "${e_lfanew}")
math(EXPR pe_offset "0x${e_lfanew}")
file(READ ${EXE} pe_header OFFSET ${pe_offset} LIMIT 6 HEX)
if(NOT pe_header MATCHES "^50450000")
  message(FATAL_ERROR "${EXE} is not a Windows (PE) executable")
elseif(NOT pe_header STREQUAL "504500004c01")
  string(REGEX REPLACE "^50450000(..)(..)" "\\2\\1" machine "${pe_header}")
  message(FATAL_ERROR "${EXE} is not a 32-bit (i386) Windows executable: its machine is ${machine}, not 014c")
endif()
execute_process(COMMAND ${OBJDUMP} -f ${EXE} OUTPUT_VARIABLE header COMMAND_ERROR_IS_FATAL ANY)
if(NOT header MATCHES "file format pei-i386\n")
  message(FATAL_ERROR "${EXE} is not a pei-i386 file:\n${header}")
endif()
message(STATUS "${EXE}: pei-i386, machine 014c")
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump COMMAND_ERROR_IS_FATAL ANY)

# The KnownDLLs of Windows 7 SP1 (HKLM\SYSTEM\CurrentControlSet\Control\
# Session Manager\KnownDLLs; a 32-bit program on 64-bit Windows gets the same
# names from SysWOW64), which later versions keep: always mapped from the
# system folder. ntdll.dll is not listed there but is loaded before anything.
set(known_dlls
  advapi32 clbcatq comdlg32 difxapi gdi32 iertutil imagehlp imm32 kernel32 lpk msctf msvcrt normaliz nsi ole32
  oleaut32 psapi rpcrt4 sechost setupapi shell32 shlwapi urlmon user32 usp10 wininet wldap32 ws2_32)

# What the executable may import, by DLL: every name here is exported by
# 32-bit Windows 7 SP1. Add a name only after checking the oldest Windows that
# exports it; never add GetDpiForWindow, GetDpiForSystem, AdjustWindowRectExForDpi,
# GetSystemMetricsForDpi, SetDefaultDllDirectories, AddDllDirectory and the like.
# Names are compared exactly as the import table spells them: the system DLLs
# export stdcall functions undecorated, so a decorated import (_Name@8) would
# not be found when Windows loads the program and fails the check too.
set(allowed_kernel32
  CancelIo CancelIoEx CompareStringOrdinal ConnectNamedPipe CreateNamedPipeW FileTimeToLocalFileTime FileTimeToSystemTime
  GetNamedPipeClientProcessId GetNamedPipeServerProcessId GetOverlappedResult GetProcessId
  QueryFullProcessImageNameW SetNamedPipeHandleState CreateThread DisconnectNamedPipe ProcessIdToSessionId ReOpenFile WaitNamedPipeW
  AcquireSRWLockExclusive ReleaseSRWLockExclusive SleepConditionVariableSRW WakeAllConditionVariable QueueUserWorkItem
  GetModuleHandleA LoadLibraryA
  AddVectoredExceptionHandler CloseHandle CopyFileW CreateDirectoryW CreateEventA CreateEventW CreateFileW CreateMutexW
  CreateProcessW CreateSemaphoreA DeleteCriticalSection DeleteFileW DuplicateHandle EnterCriticalSection
  FindClose FindFirstFileW FindNextFileW FindResourceW FlushFileBuffers FormatMessageW FreeLibrary GetCommandLineW
  GetCurrentProcess GetCurrentProcessId GetCurrentThread GetCurrentThreadId GetExitCodeProcess
  GetFileAttributesExW GetFileAttributesW GetFileInformationByHandleEx GetVolumeInformationW GetVolumePathNameW GetFileSizeEx GetFileTime GetFileType GetFullPathNameW GetHandleInformation
  GetLastError GetModuleFileNameW GetModuleHandleW GetProcAddress GetProcessAffinityMask GetStartupInfoW
  GetSystemDirectoryW GetSystemTimeAsFileTime GetTempPathW GetThreadContext GetThreadPriority GetTickCount
  GetTickCount64 InitializeCriticalSection IsDBCSLeadByteEx IsDebuggerPresent LeaveCriticalSection
  LoadLibraryExW LoadLibraryW LoadResource LocalFree LockResource MoveFileExW MoveFileW MulDiv MultiByteToWideChar OpenProcess
  OutputDebugStringA QueryPerformanceCounter RaiseException ReadFile ReleaseSemaphore RemoveDirectoryW
  RemoveVectoredExceptionHandler ResetEvent ResumeThread RtlCaptureContext
  SetCurrentDirectoryW SetDllDirectoryW SetEvent SetFileAttributesW SetFilePointerEx SetFileTime SetLastError
  SetProcessAffinityMask SetThreadContext SetThreadErrorMode SetThreadPriority SetUnhandledExceptionFilter
  SizeofResource Sleep SuspendThread TlsAlloc TlsGetValue TlsSetValue TryEnterCriticalSection VirtualProtect VirtualQuery
  WaitForMultipleObjects WaitForSingleObject WideCharToMultiByte WriteFile)
# 32-bit user32 exports no Get/SetWindowLongPtrW: the headers make them Get/SetWindowLongW.
set(allowed_user32
  AdjustWindowRectEx AllowSetForegroundWindow BeginPaint CharUpperBuffW CreateWindowExW DefWindowProcW DestroyIcon
  DestroyWindow DispatchMessageW DrawEdge DrawFocusRect DrawIconEx DrawTextW EnableMenuItem EndPaint FindWindowW FrameRect
  GetClassInfoExW GetClientRect GetDC GetDlgCtrlID GetFocus GetMessageW GetMonitorInfoW GetParent GetSystemMenu
  GetQueueStatus MsgWaitForMultipleObjectsEx
  FindWindowW GetSysColor GetSystemMetrics GetWindowLongW GetWindowTextW InflateRect IntersectRect InvalidateRect
  IsChild IsDialogMessageW IsIconic IsWindow IsWindowVisible LoadCursorW LoadImageW MapWindowPoints MessageBoxW
  MonitorFromWindow NotifyWinEvent OffsetRect PeekMessageW PostMessageW PostQuitMessage PtInRect RedrawWindow
  RegisterClassExW
  ReleaseDC SendMessageW SetFocus SetForegroundWindow SetWindowLongW SetWindowPos SetWindowTextW
  ShowWindow TranslateMessage UpdateWindow UnionRect)
set(allowed_gdi32
  BitBlt CreateCompatibleBitmap CreateCompatibleDC CreateDIBSection CreateFontIndirectW CreatePen CreateSolidBrush DeleteDC
  DeleteObject ExtTextOutW GetDeviceCaps GetObjectW GetStockObject GetTextExtentPoint32W GetTextMetricsW
  IntersectClipRect RestoreDC RoundRect SaveDC SelectObject SetBkColor SetBkMode SetBrushOrgEx
  SetStretchBltMode SetTextColor StretchBlt)
set(allowed_advapi32 RegCloseKey RegCreateKeyExW RegDeleteValueW RegOpenKeyExW RegQueryValueExW RegSetValueExW
  AddAccessAllowedAce CreateWellKnownSid GetLengthSid GetTokenInformation InitializeAcl InitializeSecurityDescriptor
  OpenProcessToken SetSecurityDescriptorDacl ConvertSidToStringSidW GetAce GetSecurityInfo)
set(allowed_shell32 ShellExecuteExW ILFree SHGetFolderPathW SHGetPathFromIDListEx SHGetPathFromIDListW SHGetSpecialFolderLocation
  ShellAboutW)
set(allowed_ole32 CoInitialize CoInitializeEx CoTaskMemAlloc CoTaskMemFree CoUninitialize)
set(allowed_oleaut32 SysAllocString SysAllocStringLen SysFreeString SysStringLen VariantClear VariantInit)
set(allowed_shlwapi PathFileExistsW)
# The first line: what the 32-bit start-up code and setjmp of MinGW-w64 import.
set(allowed_msvcrt
  __mb_cur_max __p__commode __p__fmode __p__wcmdln _iob _setjmp3 atoi setlocale strchr
  ___lc_codepage_func ___mb_cur_max_func __iob_func __set_app_type __setusermatherr __wgetmainargs __winitenv
  _amsg_exit _beginthreadex _cexit _close _commode _endthreadex _errno _fmode _initterm _onexit _read _setjmp
  _strdup _ultoa _wcmdln abort calloc exit fprintf fputc fputs fputwc free fwprintf fwrite iswctype localeconv
  longjmp malloc memchr memcmp memcpy memmove memset printf realloc signal strcmp strerror strlen strncmp
  towupper vfprintf wcslen)

set(dll "")
set(in_imports FALSE)
set(failures "")
string(REPLACE "\n" ";" lines "${dump}")
foreach(line IN LISTS lines)
  if(line MATCHES "^The Import Tables")
    set(in_imports TRUE)
  elseif(NOT in_imports)
    # the headers and sections before the import tables
  elseif(line MATCHES "^[^ \t]")
    break()  # the next part of the dump
  elseif(line MATCHES "DLL Name: ([^.]+)\\.[dD][lL][lL]$")
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
    if(NOT dll IN_LIST known_dlls)
      message(FATAL_ERROR "${EXE} imports ${dll}.dll, which is not one of the KnownDLLs: "
                          "load it at run time from System32 (LoadSystemModule)")
    endif()
    if(NOT DEFINED allowed_${dll})
      message(FATAL_ERROR "${EXE} imports ${dll}.dll: list the functions it may take from there")
    endif()
    message(STATUS "imports ${dll}.dll")
  elseif(dll AND line MATCHES "^\t[0-9a-fA-F]+\t +[0-9]+  ([^ \t]+)$")
    if(NOT CMAKE_MATCH_1 IN_LIST allowed_${dll})
      list(APPEND failures "${dll}.dll!${CMAKE_MATCH_1}")
    endif()
  elseif(line MATCHES "^ *$|^ [0-9a-f]+\t|^ vma: |^ +Table |^\tvma: ")
    # blank lines and a table's headers keep the current DLL
  else()
    # An import this check cannot read (by ordinal, say) is not let through unread.
    list(APPEND failures "${dll}.dll: unreadable import line '${line}'")
  endif()
endforeach()
if(NOT in_imports)
  message(FATAL_ERROR "${EXE}: objdump shows no import tables")
endif()
if(failures)
  list(JOIN failures "\n  " listed)
  message(FATAL_ERROR "${EXE} imports functions not known to be on Windows 7 SP1:\n  ${listed}")
endif()
