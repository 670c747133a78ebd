# Cross-building for 32-bit Windows with Debian's mingw-w64. Its programs
# cannot run on a 64-bit-only kernel, so there is no emulator for tests.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VESKAR_MINGW_TRIPLE i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake")
