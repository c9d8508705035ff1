add_compile_options(-Wall -Wextra -Wpedantic)
if(KESTREL_WERROR)
  add_compile_options(-Werror)
endif()
if(KESTREL_SANITIZE)
  add_compile_options(-fsanitize=${KESTREL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${KESTREL_SANITIZE})
endif()
# GCC 12 inlines libstdc++'s string concatenation at -O3 and then reports overlapping copies that
# cannot happen (-Wrestrict); a known false positive of that release, gone in GCC 13.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options($<$<CONFIG:Release>:-Wno-restrict>)
endif()
