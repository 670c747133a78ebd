# cmake -DNM=nm -DMODULES="a.so;b.so" -P no_static_initialisers.cmake
# Fails when a toolkit module has C++ dynamic initialisers: code that runs
# when the module is loaded, before any entry point and so before the
# OpenSSL set-up every entry point does first (standins/common/openssl_guest.h).
foreach(module ${MODULES})
  execute_process(COMMAND "${NM}" "${module}" OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} cannot read ${module}")
  endif()
  string(REGEX MATCHALL "_GLOBAL__sub_I_[A-Za-z0-9_.$]+" found "${symbols}")
  if(found)
    message(FATAL_ERROR "${module} runs static initialisers: ${found}")
  endif()
endforeach()
