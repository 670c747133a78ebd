# VESKAR_SANITIZE applies to every target of the build, fakes and tools
# included, so that instrumented and uninstrumented code never mix.
if(VESKAR_SANITIZE)
  add_compile_options(-fsanitize=${VESKAR_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VESKAR_SANITIZE})
endif()
