# Builds for 64-bit Windows with MinGW-w64. The -posix compilers are the ones
# with C++ threads (winpthreads), which std::thread and OpenMP need. Libraries
# are looked up only in the MinGW-w64 sysroot and, when given, in
# OSTRIVEL_WINDOWS_PREFIX (the libraries built by scripts/build-windows-deps).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OSTRIVEL_WINDOWS_PREFIX)
set(CMAKE_FIND_ROOT_PATH ${OSTRIVEL_WINDOWS_PREFIX} /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
