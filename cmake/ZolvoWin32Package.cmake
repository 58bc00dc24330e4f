# The Windows package of the library: what `cmake --install` puts beside
# ZOLVO_SDK.dll, and the zip that CPack makes of it:
#   ZOLVO_SDK-<version>-win32/
#     bin/      ZOLVO_SDK.dll and every DLL it needs at run time
#     lib/      libZOLVO_SDK.dll.a, lib/cmake/ZOLVO_SDK/ (find_package)
#     include/  zolvo_sdk/zolvo_sdk.h
#     licenses/ the licence texts of everything bundled (ZOLVO_WIN32_LICENSES)
#     README.txt
# The run-time DLLs are found by CMake itself (file(GET_RUNTIME_DEPENDENCIES)
# reading the import tables with the cross objdump) among the built
# dependencies and the cross compiler's runtime. A DLL found nowhere must be
# one of Windows' own: one that the MinGW-w64 import libraries name.

set(ZOLVO_WIN32_LICENSES "" CACHE PATH
  "Folder of the bundled components' licence texts (scripts/licenses.sh), installed as licenses/")

execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
  OUTPUT_VARIABLE zolvo_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(zolvo_gcc_runtime_dir "${zolvo_libgcc}" DIRECTORY)
set(zolvo_mingw_dir /usr/i686-w64-mingw32/lib)
set(zolvo_dll_dirs)
foreach(p IN LISTS ZOLVO_WIN32_PREFIX)
  list(APPEND zolvo_dll_dirs ${p}/bin ${p}/lib)
endforeach()
list(APPEND zolvo_dll_dirs ${zolvo_gcc_runtime_dir} ${zolvo_mingw_dir})
find_program(ZOLVO_WIN32_OBJDUMP NAMES i686-w64-mingw32-objdump REQUIRED)

install(CODE "
  set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
  set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
  set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND \"${ZOLVO_WIN32_OBJDUMP}\")
  file(GET_RUNTIME_DEPENDENCIES
    LIBRARIES \"$<TARGET_FILE:ZOLVO_SDK>\"
    DIRECTORIES ${zolvo_dll_dirs}
    RESOLVED_DEPENDENCIES_VAR zolvo_found
    UNRESOLVED_DEPENDENCIES_VAR zolvo_windows
    CONFLICTING_DEPENDENCIES_PREFIX zolvo_conflict)
  foreach(dll IN LISTS zolvo_windows)
    string(TOLOWER \"\${dll}\" name)
    string(REGEX REPLACE \"\\\\.dll\$\" \"\" stem \"\${name}\")
    if(NOT EXISTS \"${zolvo_mingw_dir}/lib\${stem}.a\")
      message(FATAL_ERROR \"ZOLVO_SDK.dll needs \${dll}, found neither among the built DLLs nor in Windows\")
    endif()
  endforeach()
  set(bin \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  file(INSTALL DESTINATION \"\${bin}\" TYPE SHARED_LIBRARY FILES \${zolvo_found})
  # Their names, for the CMake package (ZOLVO_SDKConfig.cmake): a host's
  # TARGET_RUNTIME_DLLS names them with ZOLVO_SDK.dll.
  set(names)
  foreach(dll IN LISTS zolvo_found)
    get_filename_component(name \"\${dll}\" NAME)
    list(APPEND names \"\${name}\")
  endforeach()
  list(SORT names)
  string(REPLACE \";\" \" \" names \"\${names}\")
  file(WRITE \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/cmake/ZOLVO_SDK/ZOLVO_SDKRuntimeDlls.cmake\"
    \"# The DLLs of bin/ that ZOLVO_SDK.dll needs at run time.\\nset(ZOLVO_SDK_RUNTIME_DLLS \${names})\\n\")
  # Stripped, the library too. strip writes the time of day into the PE header
  # unless SOURCE_DATE_EPOCH says otherwise: 0 keeps the linker's empty stamp.
  file(GLOB dlls \"\${bin}/*.dll\")
  foreach(dll IN LISTS dlls)
    execute_process(COMMAND \${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
      \"${CMAKE_STRIP}\" --strip-unneeded \"\${dll}\" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR \"cannot strip \${dll}\")
    endif()
  endforeach()
")

if(ZOLVO_WIN32_LICENSES)
  install(DIRECTORY ${ZOLVO_WIN32_LICENSES}/ DESTINATION licenses)
endif()
# README.txt with Windows line ends, for Notepad.
configure_file(${PROJECT_SOURCE_DIR}/packaging/win32/README.txt.in
  ${PROJECT_BINARY_DIR}/packaging/README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${PROJECT_BINARY_DIR}/packaging/README.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME ZOLVO_SDK)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME ZOLVO_SDK-${PROJECT_VERSION}-win32)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
