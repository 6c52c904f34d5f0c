# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model).
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DVNTX_WINDEPS=<prefix> ...
# VNTX_WINDEPS is the prefix scripts/windeps.sh fills (static libraries);
# the environment variable WINDEPS_PREFIX is used when it is not given.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER   x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER  x86_64-w64-mingw32-windres)

if(NOT VNTX_WINDEPS AND DEFINED ENV{WINDEPS_PREFIX})
  set(VNTX_WINDEPS "$ENV{WINDEPS_PREFIX}")
endif()
set(VNTX_WINDEPS "${VNTX_WINDEPS}" CACHE PATH "Prefix of the static Windows dependencies")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VNTX_WINDEPS)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${VNTX_WINDEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's libz-mingw-w64-dev ships an import library beside the static one and
# FindZLIB prefers the import library: name the static one outright, or the
# program would need zlib1.dll.
set(ZLIB_LIBRARY /usr/x86_64-w64-mingw32/lib/libz.a CACHE FILEPATH "static zlib")
set(ZLIB_INCLUDE_DIR /usr/x86_64-w64-mingw32/include CACHE PATH "zlib headers")

# Test programs run under Wine, in a prefix of the build tree, with missing DLLs
# reported (plain -all would hide them).
if(NOT VNTX_WINEPREFIX)
  set(VNTX_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
endif()
set(VNTX_WINEPREFIX "${VNTX_WINEPREFIX}" CACHE PATH "Wine prefix for running the test programs")
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env "WINEPREFIX=${VNTX_WINEPREFIX}" "WINEDEBUG=-all,err+module" wine)
