# The shared library hosts load, its install rules and package files.

set(VESKAR_MESSAGES_INC "${PROJECT_BINARY_DIR}/generated/veskar_messages.inc")
veskar_generate_message_table("${VESKAR_MESSAGES_INC}"
  "${PROJECT_BINARY_DIR}/generated/include/veskar/message_ids.h")
configure_file("${PROJECT_SOURCE_DIR}/cmake/version.h.in"
  "${PROJECT_BINARY_DIR}/generated/include/veskar/version.h" @ONLY)

# Where the platform keeps string resources, the messages and the version
# record are compiled into a resource script's object: into the library,
# and into every program that links the library's code statically.
if(VESKAR_STRING_RESOURCES)
  set(VESKAR_RESOURCE_SCRIPT "${PROJECT_BINARY_DIR}/generated/veskar.rc")
  veskar_generate_resource_script("${VESKAR_RESOURCE_SCRIPT}")
endif()

add_library(veskar SHARED $<TARGET_OBJECTS:veskar_core>
  module/${VESKAR_PLATFORM}/library_entry.cpp ${VESKAR_RESOURCE_SCRIPT})
add_library(Veskar::veskar ALIAS veskar)
target_include_directories(veskar PUBLIC
  "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>"
  "$<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/generated/include>"
  "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
target_link_libraries(veskar PRIVATE veskar_library_settings ${CMAKE_DL_LIBS})
set_target_properties(veskar PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR} EXPORT_NAME veskar)
veskar_target_settings(veskar)
if(WIN32)
  # Veskar.dll and its import library Veskar.lib, the names Windows hosts use.
  set_target_properties(veskar PROPERTIES OUTPUT_NAME Veskar PREFIX "" IMPORT_PREFIX ""
    IMPORT_SUFFIX ".lib")
endif()
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT VESKAR_SANITIZE)
  target_link_options(veskar PRIVATE "LINKER:--no-undefined")
endif()

# White-box tests link this copy: the same code without the load-time entry.
add_library(veskar_internal STATIC $<TARGET_OBJECTS:veskar_core>)
target_include_directories(veskar_internal PUBLIC
  "${PROJECT_SOURCE_DIR}/include" "${PROJECT_BINARY_DIR}/generated/include" "${PROJECT_SOURCE_DIR}")
target_link_libraries(veskar_internal PUBLIC ${CMAKE_DL_LIBS})
target_compile_definitions(veskar_internal INTERFACE VESKAR_LINKED_STATICALLY)

include(CMakePackageConfigHelpers)
install(TARGETS veskar EXPORT VeskarTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY include/veskar DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES "${PROJECT_BINARY_DIR}/generated/include/veskar/version.h"
  "${PROJECT_BINARY_DIR}/generated/include/veskar/message_ids.h"
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/veskar)
install(EXPORT VeskarTargets NAMESPACE Veskar::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Veskar)
configure_package_config_file(cmake/VeskarConfig.cmake.in
  "${PROJECT_BINARY_DIR}/VeskarConfig.cmake"
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Veskar)
write_basic_package_version_file("${PROJECT_BINARY_DIR}/VeskarConfigVersion.cmake"
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/VeskarConfig.cmake"
  "${PROJECT_BINARY_DIR}/VeskarConfigVersion.cmake"
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Veskar)
# The .pc file locates the prefix from its own folder, so the installed tree
# can be moved.
file(RELATIVE_PATH VESKAR_PC_PREFIX_FROM_PCDIR "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" VESKAR_PC_PREFIX_FROM_PCDIR "${VESKAR_PC_PREFIX_FROM_PCDIR}")
configure_file(cmake/veskar.pc.in "${PROJECT_BINARY_DIR}/veskar.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/veskar.pc" DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
