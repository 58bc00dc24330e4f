# The import tables of the Windows programs and DLLs, read in this one place:
# by the packages' install rules (cmake/ZolvoWin32Package.cmake) and, through
# scripts/win32_deps.sh (win32_imports), by the shell scripts and tests.
#   zolvo_win32_imports(<file> <variable>)
#     the DLLs that the file imports, in the order of its import table
#   zolvo_win32_runtime_dlls(<variable> FILES <file>... DIRECTORIES <folder>...)
#     the paths of every DLL that the files need at run time, followed through
#     the import tables, each found in the first of the folders that holds it
#     (in any case of its name). A DLL found nowhere must be one of Windows'
#     own, one that the MinGW-w64 import libraries name; otherwise it stops
#     with an error naming it.
# As a script, it prints the imports of one file, one a line:
#   cmake -DZOLVO_IMPORTS_OF=<file> -P cmake/ZolvoWin32Runtime.cmake
# ZOLVO_WIN32_OBJDUMP names the cross objdump (found when unset).
if(NOT ZOLVO_WIN32_OBJDUMP)
  find_program(ZOLVO_WIN32_OBJDUMP NAMES i686-w64-mingw32-objdump REQUIRED)
endif()
set(ZOLVO_WIN32_MINGW_LIBS /usr/i686-w64-mingw32/lib)

function(zolvo_win32_imports file variable)
  execute_process(COMMAND "${ZOLVO_WIN32_OBJDUMP}" -p "${file}"
    OUTPUT_VARIABLE dump RESULT_VARIABLE rc ERROR_VARIABLE errors)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot read the import table of ${file}: ${errors}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
  set(names)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^DLL Name: (.*[^ \t\r])[ \t\r]*$" "\\1" name "${line}")
    list(APPEND names "${name}")
  endforeach()
  set(${variable} ${names} PARENT_SCOPE)
endfunction()

function(zolvo_win32_runtime_dlls variable)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "FILES;DIRECTORIES")
  # Every DLL of the folders by its name in lower case; the first folder wins.
  set(known)
  foreach(dir IN LISTS arg_DIRECTORIES)
    file(GLOB files LIST_DIRECTORIES false "${dir}/*")
    list(SORT files)
    foreach(dll IN LISTS files)
      get_filename_component(name "${dll}" NAME)
      string(TOLOWER "${name}" key)
      if(key MATCHES "\\.dll$" AND NOT DEFINED path_${key})
        set(path_${key} "${dll}")
      endif()
    endforeach()
  endforeach()
  set(found)
  set(seen)
  set(queue ${arg_FILES})
  while(queue)
    list(POP_FRONT queue current)
    zolvo_win32_imports("${current}" imports)
    foreach(name IN LISTS imports)
      string(TOLOWER "${name}" key)
      list(FIND seen "${key}" at)
      if(NOT at EQUAL -1)
        continue()
      endif()
      list(APPEND seen "${key}")
      if(DEFINED path_${key})
        list(APPEND found "${path_${key}}")
        list(APPEND queue "${path_${key}}")
      else()
        string(REGEX REPLACE "\\.dll$" "" stem "${key}")
        if(NOT EXISTS "${ZOLVO_WIN32_MINGW_LIBS}/lib${stem}.a")
          get_filename_component(needer "${current}" NAME)
          message(FATAL_ERROR "${needer} needs ${name}, found neither among the built DLLs nor in Windows")
        endif()
      endif()
    endforeach()
  endwhile()
  set(${variable} ${found} PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE AND DEFINED ZOLVO_IMPORTS_OF)
  zolvo_win32_imports("${ZOLVO_IMPORTS_OF}" imports)
  if(imports)
    string(REPLACE ";" "\n" imports "${imports}")
    execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "${imports}")
  endif()
endif()
