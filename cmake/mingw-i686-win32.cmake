# Shipped binaries: 32-bit Windows, win32 thread model (no winpthreads, which imports
# functions only newer Windows has). Compilers named explicitly so that a machine's
# alternatives setting cannot change the build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER   /usr/bin/i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER /usr/bin/i686-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER  /usr/bin/i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
