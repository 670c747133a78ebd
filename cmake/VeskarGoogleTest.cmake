# GoogleTest for the suite: the installed package when the target has one;
# otherwise (a cross build, e.g. for Windows) compiled from the sources that
# Debian's libgtest-dev ships, with the project's own compiler.

find_package(GTest QUIET)
if(NOT GTest_FOUND)
  set(VESKAR_GOOGLETEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH
    "GoogleTest sources, built with the project when no GoogleTest package fits the target")
  if(NOT EXISTS "${VESKAR_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt")
    message(FATAL_ERROR "No GoogleTest for this target and no sources in "
      "VESKAR_GOOGLETEST_SOURCE_DIR (${VESKAR_GOOGLETEST_SOURCE_DIR})")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory("${VESKAR_GOOGLETEST_SOURCE_DIR}" "${PROJECT_BINARY_DIR}/googletest"
    EXCLUDE_FROM_ALL)
  foreach(library gtest gtest_main)
    # Its headers are not ours to hold to the project's warnings.
    get_target_property(directories ${library} INTERFACE_INCLUDE_DIRECTORIES)
    set_target_properties(${library} PROPERTIES
      INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${directories}")
    if(NOT TARGET GTest::${library})
      add_library(GTest::${library} ALIAS ${library})
    endif()
  endforeach()
endif()
