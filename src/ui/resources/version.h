#pragma once
// The one place the version numbers live: read by the resource script and by CMake.
#define TESSALOOM_VERSION_MAJOR 4
#define TESSALOOM_VERSION_MINOR 0
#define TESSALOOM_VERSION_BUILD 0
#define TESSALOOM_VERSION_REVISION 6
#define TESSALOOM_VERSION_TEXT "4.00.0006"
#define TESSALOOM_PRODUCT_NAME "UpdateTessaloom"
#define TESSALOOM_INTERNAL_NAME "Setup"
#define TESSALOOM_ORIGINAL_FILENAME "Setup.exe"
