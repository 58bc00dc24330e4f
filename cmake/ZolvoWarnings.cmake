# zolvo_target_warnings(<target>…): the project's warnings for the targets' own
# sources; with ZOLVO_WERROR=ON (CI) every warning is an error.
function(zolvo_target_warnings)
  set(flags -Wall -Wextra)
  if(ZOLVO_WERROR)
    list(APPEND flags -Werror)
  endif()
  foreach(target IN LISTS ARGN)
    target_compile_options(${target} PRIVATE ${flags})
  endforeach()
endfunction()
