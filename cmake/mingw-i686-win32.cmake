# Shipped binaries: win32 thread model (no winpthreads, which imports functions only
# newer Windows has), runtime linked in statically.
set(VELK_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686-common.cmake)
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
