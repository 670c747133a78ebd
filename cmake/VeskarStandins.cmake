# What the stand-in toolkits, their CA and the command's PKI verbs are built
# with, as veskar_library_settings is for the library: hidden symbols (the
# toolkits export only their entry points), position-independent code (the
# static parts end up in shared toolkits), includes from the source root.
find_package(OpenSSL 3 REQUIRED COMPONENTS Crypto SSL)

add_library(veskar_standin_settings INTERFACE)
target_include_directories(veskar_standin_settings INTERFACE
  "${PROJECT_SOURCE_DIR}" "${PROJECT_SOURCE_DIR}/include")
target_compile_features(veskar_standin_settings INTERFACE cxx_std_17)
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
