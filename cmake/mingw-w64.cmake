# Cross-compiles the 64-bit Windows plug-in with Debian's MinGW-w64 (g++-mingw-w64-x86-64):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake && cmake --build build-win
# The runtime (libgcc, libstdc++) is linked statically so that the DLL needs nothing beside the system's own
# DLLs. The plug-in takes the compiler's win32 flavour, whose runtime runs on Windows' own threads: the
# posix flavour links winpthreads, which keeps a thread-local-storage index, handles and memory for good
# when the DLL is unloaded (a host that scans its plug-ins runs out of indices after about a thousand
# loads) and imports calls a plug-in has no business with (SetSystemTime, SetProcessAffinityMask). The
# test host needs std::mutex, which the win32 flavour of GCC 12 lacks: it is built with the posix flavour
# (VANDREL_MINGW_THREADS=posix, tests/windows/).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VANDREL_MINGW_THREADS win32 CACHE STRING "Thread flavour of the MinGW-w64 compiler: win32 or posix")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VANDREL_MINGW_THREADS)
set(VANDREL_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${VANDREL_MINGW_PREFIX}-gcc-${VANDREL_MINGW_THREADS} REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${VANDREL_MINGW_PREFIX}-g++-${VANDREL_MINGW_THREADS} REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${VANDREL_MINGW_PREFIX}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${VANDREL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
