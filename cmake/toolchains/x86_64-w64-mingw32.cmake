# Cross-building for 64-bit Windows with Debian's mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VESKAR_MINGW_TRIPLE x86_64-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake")

# Where Wine is installed, the test suite runs under it.
find_program(VESKAR_WINE64 wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VESKAR_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${VESKAR_WINE64}")
endif()
