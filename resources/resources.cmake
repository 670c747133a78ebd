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
# inclusion into the library's table; and IDS_OUTPUT, the public header
# naming each message that has a "name" (cmake/message_ids.h.in), the
# enumerators the code and hosts test outcomes by.
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
      string(APPEND ids "  ${name} = ${id},\n")
    endif()
  endforeach()
  file(CONFIGURE OUTPUT "${output}" CONTENT "${lines}" @ONLY)
  set(VESKAR_MESSAGE_IDS "${ids}")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/message_ids.h.in" "${ids_output}" @ONLY)
endfunction()

# Escapes a decoded string for use inside a resource-script string literal.
function(veskar_rc_escape out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\"\"" text "${text}")
  string(REPLACE "\n" "\\n" text "${text}")
  string(REPLACE "\r" "\\r" text "${text}")
  string(REPLACE "\t" "\\t" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Writes OUTPUT: a resource script with the message table as a STRINGTABLE
# (each text under its number) and the version record as a VERSIONINFO.
function(veskar_generate_resource_script output)
  veskar_read_version_record()
  file(READ "${VESKAR_RESOURCES_DIR}/messages.json" json)
  string(JSON language GET "${json}" language)
  math(EXPR primary "${language} & 1023")
  math(EXPR sublanguage "${language} >> 10")
  math(EXPR language_hex "${language}" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x" "" language_hex "${language_hex}")
  string(LENGTH "${language_hex}" digits)
  while(digits LESS 4)
    string(PREPEND language_hex "0")
    math(EXPR digits "${digits} + 1")
  endwhile()

  set(rc "// Generated from resources/messages.json and resources/version.json.\n")
  string(APPEND rc "#include <winver.h>\n\n")
  string(APPEND rc "LANGUAGE ${primary}, ${sublanguage}\n\nSTRINGTABLE\nBEGIN\n")
  string(JSON count LENGTH "${json}" messages)
  math(EXPR last "${count} - 1")
  foreach(i RANGE ${last})
    string(JSON id GET "${json}" messages ${i} id)
    string(JSON text GET "${json}" messages ${i} text)
    if(id GREATER 65535)
      message(FATAL_ERROR "messages.json: ${id} is no string-resource number")
    endif()
    veskar_rc_escape(escaped "${text}")
    string(APPEND rc "  ${id}, \"${escaped}\"\n")
  endforeach()
  string(APPEND rc "END\n\n")

  string(REPLACE "." "," numeric_file_version "${VESKAR_FILE_VERSION}")
  string(REPLACE "." "," numeric_product_version "${VESKAR_PRODUCT_VERSION}")
  string(APPEND rc "1 VERSIONINFO\n"
    "FILEVERSION ${numeric_file_version}\n"
    "PRODUCTVERSION ${numeric_product_version}\n"
    "FILEFLAGSMASK VS_FFI_FILEFLAGSMASK\n"
    "FILEFLAGS 0\n"
    "FILEOS VOS_NT_WINDOWS32\n"
    "FILETYPE VFT_DLL\n"
    "FILESUBTYPE VFT2_UNKNOWN\n"
    "BEGIN\n"
    "  BLOCK \"StringFileInfo\"\n"
    "  BEGIN\n"
    "    BLOCK \"${language_hex}04B0\"\n"
    "    BEGIN\n")
  foreach(pair "FileDescription;FILE_DESCRIPTION" "FileVersion;FILE_VERSION"
          "InternalName;INTERNAL_NAME" "OriginalFilename;ORIGINAL_FILENAME"
          "ProductName;PRODUCT_NAME" "ProductVersion;PRODUCT_VERSION")
    list(GET pair 0 key)
    list(GET pair 1 variable)
    veskar_rc_escape(value "${VESKAR_${variable}}")
    string(APPEND rc "      VALUE \"${key}\", \"${value}\"\n")
  endforeach()
  string(APPEND rc "    END\n"
    "  END\n"
    "  BLOCK \"VarFileInfo\"\n"
    "  BEGIN\n"
    "    VALUE \"Translation\", 0x${language_hex}, 1200\n"
    "  END\n"
    "END\n")
  # Copied into place only when changed, so an unchanged script is not
  # compiled again; texts are written verbatim, '@' and '${' included.
  file(WRITE "${output}.new" "${rc}")
  configure_file("${output}.new" "${output}" COPYONLY)
  file(REMOVE "${output}.new")
endfunction()
