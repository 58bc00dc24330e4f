# The Windows package of the library: what `cmake --install` puts beside
# ZOLVO_SDK.dll, and the zip that CPack makes of it:
#   ZOLVO_SDK-<version>-win32/
#     bin/      ZOLVO_SDK.dll and every DLL it needs at run time
#     lib/      libZOLVO_SDK.dll.a, lib/cmake/ZOLVO_SDK/ (find_package)
#     include/  zolvo_sdk/zolvo_sdk.h
#     licenses/ the licence texts of everything bundled (ZOLVO_WIN32_LICENSES)
#     README.txt
# The run-time DLLs are found through the import tables
# (cmake/ZolvoWin32Runtime.cmake) among the built dependencies and the cross
# compiler's runtime; a DLL found nowhere must be one of Windows' own.
# The demo program's folder (ZOLVO_SDK_DEMO/, scripts/windows_demo.sh) is
# installed by the same rule as the component "demo", which a plain install
# (and so the library's zip) leaves out:
#   cmake --install <build> --component demo --prefix <folder>

set(ZOLVO_WIN32_LICENSES "" CACHE PATH
  "Folder of the bundled components' licence texts (scripts/licenses.sh), installed as licenses/")

execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
  OUTPUT_VARIABLE zolvo_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(zolvo_gcc_runtime_dir "${zolvo_libgcc}" DIRECTORY)
# The folders searched for the DLLs, in order (the demo's rule reads them too).
set(zolvo_dll_dirs)
foreach(p IN LISTS ZOLVO_WIN32_PREFIX)
  list(APPEND zolvo_dll_dirs ${p}/bin ${p}/lib)
endforeach()
list(APPEND zolvo_dll_dirs ${zolvo_gcc_runtime_dir} /usr/i686-w64-mingw32/lib)
set_property(GLOBAL PROPERTY ZOLVO_WIN32_DLL_DIRS ${zolvo_dll_dirs})
find_program(ZOLVO_WIN32_OBJDUMP NAMES i686-w64-mingw32-objdump REQUIRED)

# zolvo_win32_install_runtime(DESTINATION <folder> FILES <file>...
#                             [DIRECTORIES <folder>...] [COMPONENT demo])
# Installs into <folder> every DLL that the files (generator expressions
# allowed) need at run time, found in the given folders first, then among the
# dependencies' and the runtime's; then strips every DLL and program in
# <folder> and below. Their names are left in the install script's variable
# zolvo_runtime_names. strip writes the time of day into the PE header unless
# SOURCE_DATE_EPOCH says otherwise: 0 keeps the linker's empty stamp.
function(zolvo_win32_install_runtime)
  cmake_parse_arguments(arg "" "DESTINATION;COMPONENT" "FILES;DIRECTORIES" ${ARGN})
  set(where)
  if(arg_COMPONENT)
    set(where COMPONENT ${arg_COMPONENT} EXCLUDE_FROM_ALL)
  endif()
  get_property(dll_dirs GLOBAL PROPERTY ZOLVO_WIN32_DLL_DIRS)
  set(files)
  foreach(f IN LISTS arg_FILES)
    string(APPEND files " \"${f}\"")
  endforeach()
  install(CODE "
  set(ZOLVO_WIN32_OBJDUMP \"${ZOLVO_WIN32_OBJDUMP}\")
  include(\"${PROJECT_SOURCE_DIR}/cmake/ZolvoWin32Runtime.cmake\")
  zolvo_win32_runtime_dlls(zolvo_found FILES ${files}
    DIRECTORIES ${arg_DIRECTORIES} ${dll_dirs})
  set(dest \"\${CMAKE_INSTALL_PREFIX}/${arg_DESTINATION}\")
  file(INSTALL DESTINATION \"\${dest}\" TYPE SHARED_LIBRARY USE_SOURCE_PERMISSIONS FILES \${zolvo_found})
  set(zolvo_runtime_names)
  foreach(dll IN LISTS zolvo_found)
    get_filename_component(name \"\${dll}\" NAME)
    list(APPEND zolvo_runtime_names \"\${name}\")
  endforeach()
  file(GLOB_RECURSE binaries \"\${dest}/*\")
  foreach(binary IN LISTS binaries)
    if(binary MATCHES \"[.]([dD][lL][lL]|[eE][xX][eE])\$\")
      execute_process(COMMAND \${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
        \"${CMAKE_STRIP}\" --strip-unneeded \"\${binary}\" RESULT_VARIABLE rc)
      if(NOT rc EQUAL 0)
        message(FATAL_ERROR \"cannot strip \${binary}\")
      endif()
    endif()
  endforeach()
" ${where})
endfunction()

# The library's bin/.
zolvo_win32_install_runtime(DESTINATION ${CMAKE_INSTALL_BINDIR} FILES $<TARGET_FILE:ZOLVO_SDK>)
# Their names, for the CMake package (ZOLVO_SDKConfig.cmake): a host's
# TARGET_RUNTIME_DLLS names them with ZOLVO_SDK.dll.
install(CODE "
  list(SORT zolvo_runtime_names)
  string(REPLACE \";\" \" \" names \"\${zolvo_runtime_names}\")
  file(WRITE \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/cmake/ZOLVO_SDK/ZOLVO_SDKRuntimeDlls.cmake\"
    \"# The DLLs of bin/ that ZOLVO_SDK.dll needs at run time.\\nset(ZOLVO_SDK_RUNTIME_DLLS \${names})\\n\")
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
