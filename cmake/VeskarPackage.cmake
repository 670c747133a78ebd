# The binary package of a build: `cpack -G ZIP` in a Windows build folder
# makes Veskar-VERSION-win64.zip (or -win32), laid out as the install rules
# lay it out: bin\ with Veskar.dll, the toolkits beside it, the compiler's
# runtime and veskar.exe; include\ and lib\ (Veskar.lib, the CMake package);
# README-Windows.txt for a host's developer. Elsewhere a TGZ of the same.

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VESKAR_PACKAGE_WINDOWS 64-bit)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(VESKAR_PACKAGE_WINDOWS 32-bit)
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(veskar_runtime_names "")
  foreach(dll ${VESKAR_RUNTIME_DLLS})
    get_filename_component(name "${dll}" NAME)
    list(APPEND veskar_runtime_names "${name}")
  endforeach()
  list(JOIN veskar_runtime_names ", " VESKAR_PACKAGE_RUNTIME_DLLS)
  configure_file("${PROJECT_SOURCE_DIR}/resources/README-Windows.txt.in"
    "${PROJECT_BINARY_DIR}/README-Windows.txt" @ONLY NEWLINE_STYLE WIN32)
  install(FILES "${PROJECT_BINARY_DIR}/README-Windows.txt" DESTINATION .)

  # The runtime DLLs come from the compiler's folder with their debugging
  # sections; a stripped install (cpack strips) ships them as lean as the
  # targets.
  if(CMAKE_STRIP)
    foreach(name ${veskar_runtime_names})
      install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_STRIP}\"
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${name}\")
endif()")
    endforeach()
  endif()
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ)
endif()

set(CPACK_PACKAGE_NAME Veskar)
set(CPACK_PACKAGE_VENDOR Veskar)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${VESKAR_FILE_DESCRIPTION}")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
