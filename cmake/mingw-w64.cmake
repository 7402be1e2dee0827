# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads), run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
find_program(KORVEL_MINGW x86_64-w64-mingw32-g++-posix)
if(NOT KORVEL_MINGW)
  message(FATAL_ERROR "Korvel: MinGW-w64 with posix threads not found. Install the Debian package "
                      "g++-mingw-w64-x86-64-posix (scripts/setup installs everything the build needs).")
endif()
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# CLI11 is header-only, so the host's copy serves; nothing else of the host is found.
set(CLI11_DIR /usr/share/cmake/CLI11)
# The programs carry their C and C++ runtimes, so they start without MinGW's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
