# The message table and the version record are data in this folder. This file
# turns them into what the build needs: the project version (read before
# project()) and a generated C++ table compiled into the library.

set(VESKAR_RESOURCES_DIR "${CMAKE_CURRENT_LIST_DIR}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  "${VESKAR_RESOURCES_DIR}/version.json" "${VESKAR_RESOURCES_DIR}/messages.json")

function(veskar_read_version_record)
  file(READ "${VESKAR_RESOURCES_DIR}/version.json" json)
  foreach(key file_version product_version file_description internal_name
          product_name original_filename)
    string(JSON value GET "${json}" ${key})
    string(TOUPPER "${key}" upper)
    set(VESKAR_${upper} "${value}" PARENT_SCOPE)
  endforeach()
endfunction()

# Escapes a decoded string for use inside a C string literal.
function(veskar_c_escape out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  string(REPLACE "\n" "\\n" text "${text}")
  string(REPLACE "\r" "\\r" text "${text}")
  string(REPLACE "\t" "\\t" text "${text}")
  # file(CONFIGURE) below would replace @NAME@ inside a text; an octal escape
  # keeps every '@' out of its sight.
  string(REPLACE "@" "\\100" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Writes OUTPUT: one `{id, "text"},` line per message, sorted by number, for
# inclusion into the library's table; and IDS_OUTPUT: one `name = id,` line
# per message that has a "name", the enumerators the code reports by.
function(veskar_generate_message_table output ids_output)
  file(READ "${VESKAR_RESOURCES_DIR}/messages.json" json)
  string(JSON count LENGTH "${json}" messages)
  math(EXPR last "${count} - 1")
  set(lines "")
  set(ids "")
  set(previous -1)
  foreach(i RANGE ${last})
    string(JSON id GET "${json}" messages ${i} id)
    string(JSON text GET "${json}" messages ${i} text)
    if(NOT id GREATER previous)
      message(FATAL_ERROR "messages.json: ids must be unique and ascending (${id})")
    endif()
    set(previous ${id})
    veskar_c_escape(escaped "${text}")
    string(APPEND lines "{${id}u, \"${escaped}\"},\n")
    string(JSON name ERROR_VARIABLE no_name GET "${json}" messages ${i} name)
    if(no_name STREQUAL "NOTFOUND")
      if(NOT name MATCHES "^kMsg[A-Za-z0-9]+$")
        message(FATAL_ERROR "messages.json: \"${name}\" (${id}) is not a kMsg... name")
      endif()
      string(APPEND ids "${name} = ${id},\n")
    endif()
  endforeach()
  file(CONFIGURE OUTPUT "${output}" CONTENT "${lines}" @ONLY)
  file(CONFIGURE OUTPUT "${ids_output}" CONTENT "${ids}" @ONLY)
endfunction()
