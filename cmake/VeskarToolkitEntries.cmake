# The entry points of each toolkit are listed once, in its ABI header
# (VESKAR_CMSAPI32_ENTRY_POINTS in include/veskar/toolkit/cmsapi32.h). These
# functions read that list and write the export lists toolkit modules are
# linked with: an ELF version script, or a Windows module-definition file.

include(CheckCSourceCompiles)

# Whether the target decorates stdcall names ("_CMSLogin@24"), as 32-bit
# Windows does; other targets export the plain name.
check_c_source_compiles([=[
#if !(defined(_WIN32) && (defined(__i386__) || defined(_M_IX86)))
#error stdcall names are not decorated here
#endif
int main(void) { return 0; }
]=] VESKAR_STDCALL_DECORATES)

# veskar_toolkit_entry_points(TOOLKIT OUT): sets OUT to the toolkit's entry
# points as "name@bytes" items, in the header's order.
function(veskar_toolkit_entry_points toolkit out)
  set(header "${PROJECT_SOURCE_DIR}/include/veskar/toolkit/${toolkit}.h")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${header}")
  file(READ "${header}" text)
  string(TOUPPER "${toolkit}" upper)
  # The list runs from its #define to the first line without a continuation.
  string(REGEX MATCH "#define VESKAR_${upper}_ENTRY_POINTS\\(X\\)([^\n]*\\\\\n)*[^\n]*" list "${text}")
  set(space "[ \t\r\n\\\\]*")
  string(REGEX MATCHALL "X\\([^,()]+,${space}[A-Za-z0-9_]+,${space}[0-9]+," rows "${list}")
  if(NOT rows)
    message(FATAL_ERROR "${header}: no entry-point list VESKAR_${upper}_ENTRY_POINTS")
  endif()
  set(entries "")
  foreach(row ${rows})
    string(REGEX REPLACE "^X\\([^,]+,${space}([A-Za-z0-9_]+),${space}([0-9]+),$" "\\1@\\2" entry "${row}")
    list(APPEND entries "${entry}")
  endforeach()
  set(${out} "${entries}" PARENT_SCOPE)
endfunction()

# veskar_write_version_script(TOOLKIT OUTPUT): an ELF version script that
# exports the toolkit's entry points and hides everything else.
function(veskar_write_version_script toolkit output)
  veskar_toolkit_entry_points(${toolkit} entries)
  set(text "{\n  global:\n")
  foreach(entry ${entries})
    string(REGEX REPLACE "@.*" "" name "${entry}")
    string(APPEND text "    ${name};\n")
  endforeach()
  string(APPEND text "  local: *;\n};\n")
  file(CONFIGURE OUTPUT "${output}" CONTENT "${text}")
endfunction()

# veskar_write_module_definition(TOOLKIT OUTPUT [OMIT name...]): a Windows
# module-definition file exporting the toolkit's entry points under the names
# the platform's callers look up, less the OMIT ones.
function(veskar_write_module_definition toolkit output)
  cmake_parse_arguments(ARG "" "" "OMIT" ${ARGN})
  veskar_toolkit_entry_points(${toolkit} entries)
  set(text "LIBRARY ${toolkit}\nEXPORTS\n")
  foreach(entry ${entries})
    string(REGEX REPLACE "@.*" "" name "${entry}")
    if(name IN_LIST ARG_OMIT)
      continue()
    endif()
    if(VESKAR_STDCALL_DECORATES)
      # The compiler's symbol is "CMSLogin@24"; callers ask for "_CMSLogin@24".
      string(APPEND text "  _${entry} = ${entry}\n")
    else()
      string(APPEND text "  ${name}\n")
    endif()
  endforeach()
  file(CONFIGURE OUTPUT "${output}" CONTENT "${text}")
endfunction()
