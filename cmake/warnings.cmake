# The compiler warnings of the project's own targets. Warnings are errors when RS_WERROR is on,
# as every preset and CI have it; a plain configure leaves it off, so that a newer or older
# compiler's new diagnostics do not stop someone building the program.
option(RS_WERROR "Treat compiler warnings as errors in the project's own targets" OFF)

function(rs_warnings)
  foreach(target IN LISTS ARGN)
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -Wpedantic>)
    if(RS_WERROR)
      target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-Werror>)
    endif()
  endforeach()
endfunction()
