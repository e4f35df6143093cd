# Cross build for 64-bit (x86_64) Windows with Debian's MinGW-w64: the same
# tree as the shipped 32-bit exe, for machines whose kernel runs no 32-bit
# programs and so no 32-bit Wine (see scripts/windows-arch.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
