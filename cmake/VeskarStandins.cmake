# What the stand-in toolkits, their CA and the command's PKI verbs are built
# with, as veskar_library_settings is for the library: hidden symbols (the
# toolkits export only their entry points), position-independent code (the
# static parts end up in shared toolkits), includes from the source root.
if(WIN32)
  # Debian has no OpenSSL for mingw-w64: scripts/openssl_mingw.sh builds a
  # static one, linked into each toolkit DLL so that none of it is visible
  # outside (a host's own libcrypto DLL is never disturbed).
  set(VESKAR_OPENSSL_ROOT "" CACHE PATH
    "A static OpenSSL 3 for this target, as scripts/openssl_mingw.sh installs it")
  if(NOT EXISTS "${VESKAR_OPENSSL_ROOT}/lib/libcrypto.a")
    message(FATAL_ERROR "The stand-in toolkits on Windows need a static OpenSSL: run "
      "'bash scripts/openssl_mingw.sh ${CMAKE_SYSTEM_PROCESSOR}' and pass the folder it "
      "prints as -DVESKAR_OPENSSL_ROOT=..., or pass -DVESKAR_BUILD_TOOLKITS=OFF")
  endif()
  add_library(OpenSSL::Crypto STATIC IMPORTED)
  set_target_properties(OpenSSL::Crypto PROPERTIES
    IMPORTED_LOCATION "${VESKAR_OPENSSL_ROOT}/lib/libcrypto.a"
    INTERFACE_INCLUDE_DIRECTORIES "${VESKAR_OPENSSL_ROOT}/include"
    INTERFACE_LINK_LIBRARIES "ws2_32;gdi32;advapi32;crypt32;user32;bcrypt")
  add_library(OpenSSL::SSL STATIC IMPORTED)
  set_target_properties(OpenSSL::SSL PROPERTIES
    IMPORTED_LOCATION "${VESKAR_OPENSSL_ROOT}/lib/libssl.a"
    INTERFACE_LINK_LIBRARIES OpenSSL::Crypto)
  # Nor SQLite: scripts/sqlite_mingw.sh builds a static one the same way,
  # for the CA's register.
  set(VESKAR_SQLITE_ROOT "" CACHE PATH
    "A static SQLite 3 for this target, as scripts/sqlite_mingw.sh installs it")
  if(NOT EXISTS "${VESKAR_SQLITE_ROOT}/lib/libsqlite3.a")
    message(FATAL_ERROR "The stand-in toolkits on Windows need a static SQLite: run "
      "'bash scripts/sqlite_mingw.sh ${CMAKE_SYSTEM_PROCESSOR}' and pass the folder it "
      "prints as -DVESKAR_SQLITE_ROOT=..., or pass -DVESKAR_BUILD_TOOLKITS=OFF")
  endif()
  add_library(SQLite::SQLite3 STATIC IMPORTED)
  set_target_properties(SQLite::SQLite3 PROPERTIES
    IMPORTED_LOCATION "${VESKAR_SQLITE_ROOT}/lib/libsqlite3.a"
    INTERFACE_INCLUDE_DIRECTORIES "${VESKAR_SQLITE_ROOT}/include")
else()
  find_package(OpenSSL 3 REQUIRED COMPONENTS Crypto SSL)
  # Debian's libsqlite3-dev.
  find_package(SQLite3 REQUIRED)
endif()

add_library(veskar_standin_settings INTERFACE)
target_include_directories(veskar_standin_settings INTERFACE
  "${PROJECT_SOURCE_DIR}" "${PROJECT_SOURCE_DIR}/include")
target_compile_features(veskar_standin_settings INTERFACE cxx_std_17)
if(WIN32)
  # OpenSSL is linked statically: each toolkit's copy is its own to set up
  # and tear down (standins/common/openssl_guest.h).
  target_compile_definitions(veskar_standin_settings INTERFACE VESKAR_OPENSSL_PRIVATE_COPY)
endif()
# Libraries only: an executable that links a stand-in library keeps its own
# visibility.
target_compile_options(veskar_standin_settings INTERFACE
  "$<$<NOT:$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>>:-fvisibility=hidden;-fvisibility-inlines-hidden>")
set_property(TARGET veskar_standin_settings PROPERTY INTERFACE_POSITION_INDEPENDENT_CODE ON)

# veskar_add_standin_library(TARGET SOURCES...): one static part of the
# stand-ins, with the shared settings.
function(veskar_add_standin_library target)
  add_library(${target} STATIC ${ARGN})
  target_link_libraries(${target} PUBLIC veskar_standin_settings)
  veskar_target_settings(${target})
endfunction()
