# Cross build for 32-bit (i686) Windows with Debian's MinGW-w64: the one exe
# that ships, running on 32-bit Windows and, under WOW64, on 64-bit Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
