# Shared by the mingw-w64 toolchain files, which set VESKAR_MINGW_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR first: Debian's -posix compilers (their runtime has
# std::thread), windres for the resource script, and the target's own root.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VESKAR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VESKAR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VESKAR_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VESKAR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
