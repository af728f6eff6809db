# 32-bit Windows through MinGW-w64; VELK_MINGW_THREADS (win32 or posix) picks the
# compilers, named explicitly so that a machine's alternatives cannot change the build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER   /usr/bin/i686-w64-mingw32-gcc-${VELK_MINGW_THREADS})
set(CMAKE_CXX_COMPILER /usr/bin/i686-w64-mingw32-g++-${VELK_MINGW_THREADS})
set(CMAKE_RC_COMPILER  /usr/bin/i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
