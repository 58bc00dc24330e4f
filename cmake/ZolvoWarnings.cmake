# zolvo_target_warnings(<target>…): the project's warnings for the targets' own
# sources; with ZOLVO_WERROR=ON (CI) every warning is an error.
function(zolvo_target_warnings)
  set(flags -Wall -Wextra)
  if(ZOLVO_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC's manual warns that the sanitizers raise false -Wmaybe-uninitialized
    # reports, and advises against -Werror with them: GCC 12 with ASan reports
    # libstdc++'s own std::regex states. The plain build keeps the warning.
    list(APPEND flags -Wno-maybe-uninitialized)
  endif()
  if(ZOLVO_WERROR)
    list(APPEND flags -Werror)
  endif()
  foreach(target IN LISTS ARGN)
    target_compile_options(${target} PRIVATE ${flags})
  endforeach()
endfunction()
