# Cross-building for 32-bit Windows with Debian's mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VESKAR_MINGW_TRIPLE i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake")

# Where 32-bit Wine is installed (Debian's wine32:i386, whose loader is
# /usr/lib/wine/wine), the test suite runs under it.
find_program(VESKAR_WINE32 wine PATHS /usr/lib/wine NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(VESKAR_WINE32)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${VESKAR_WINE32}")
endif()
