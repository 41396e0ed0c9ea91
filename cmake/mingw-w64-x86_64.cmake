# Cross-compile for 64-bit Windows with Debian's MinGW-w64. The program is
# built with the win32 thread model; the test programs with the posix one,
# whose std::mutex GoogleTest needs (MORVANE_MINGW_THREADS=posix).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_PREFIX x86_64-w64-mingw32)
set(MORVANE_MINGW_THREADS win32 CACHE STRING "MinGW thread model: win32 (the program) or posix (its test programs)")
set_property(CACHE MORVANE_MINGW_THREADS PROPERTY STRINGS win32 posix)
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-${MORVANE_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-${MORVANE_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The folder must run on a bare Windows machine: no MinGW runtime DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
