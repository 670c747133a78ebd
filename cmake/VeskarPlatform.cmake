# Picks the platform folder the library's OS calls come from, by what the
# target offers rather than by its name: Win32 loading (LoadLibraryA) makes
# it platform/win32, POSIX dynamic loading (dlopen) platform/posix.
#
# Sets VESKAR_PLATFORM (win32 or posix) and VESKAR_STRING_RESOURCES (ON when
# the message texts live in the library's string resources rather than in a
# compiled table).

include(CheckSymbolExists)

check_symbol_exists(LoadLibraryA "windows.h" VESKAR_HAVE_LOADLIBRARYA)
if(VESKAR_HAVE_LOADLIBRARYA)
  set(VESKAR_PLATFORM win32)
  set(VESKAR_STRING_RESOURCES ON)
else()
  set(CMAKE_REQUIRED_LIBRARIES ${CMAKE_DL_LIBS})
  check_symbol_exists(dlopen "dlfcn.h" VESKAR_HAVE_DLOPEN)
  unset(CMAKE_REQUIRED_LIBRARIES)
  if(NOT VESKAR_HAVE_DLOPEN)
    message(FATAL_ERROR "Veskar needs either LoadLibraryA (Win32) or dlopen (POSIX)")
  endif()
  set(VESKAR_PLATFORM posix)
  set(VESKAR_STRING_RESOURCES OFF)
endif()
message(STATUS "Veskar platform layer: platform/${VESKAR_PLATFORM}")
if(VESKAR_STRING_RESOURCES)
  enable_language(RC)
endif()

if(VESKAR_PLATFORM STREQUAL "win32")
  # Windows finds a program's DLLs beside it: the library, the programs and
  # the compiler's runtime DLLs share one folder.
  if(NOT CMAKE_RUNTIME_OUTPUT_DIRECTORY)
    set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/bin")
  endif()
  # The GNU runtime DLLs the library and the programs import; a host ships
  # them beside Veskar.dll.
  set(VESKAR_RUNTIME_DLLS "")
  if(MINGW)
    foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
      execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=${dll}
        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(IS_ABSOLUTE "${path}" AND EXISTS "${path}")
        get_filename_component(path "${path}" REALPATH)
        list(APPEND VESKAR_RUNTIME_DLLS "${path}")
      endif()
    endforeach()
    file(COPY ${VESKAR_RUNTIME_DLLS} DESTINATION "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
    install(FILES ${VESKAR_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endif()
