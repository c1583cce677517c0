# Warnings are errors in both builds.
set(RBAR_WARNING_FLAGS -Wall -Wextra -Wshadow -Wimplicit-fallthrough -Werror)

function(rbar_host_warnings TARGET)
  target_compile_options(${TARGET} PRIVATE ${RBAR_WARNING_FLAGS})
endfunction()
