# Cross build for 32-bit Windows (x86) with Debian's MinGW-w64 (posix thread
# model: std::thread and std::mutex need it). scripts/windows.sh passes the
# prefix of the dependencies it built as ZOLVO_WIN32_PREFIX.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32 ${ZOLVO_WIN32_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Passed on to try_compile projects.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZOLVO_WIN32_PREFIX)
