# Windows through MinGW-w64. The preset picks the architecture, VELK_MINGW_ARCH (i686 or
# x86_64), and the thread model, VELK_MINGW_THREADS (win32 or posix); the compilers are
# named explicitly so that a machine's alternatives cannot change the build.
set(velk_mingw_archs i686 x86_64)
if(NOT VELK_MINGW_ARCH IN_LIST velk_mingw_archs OR NOT VELK_MINGW_THREADS MATCHES "^(win32|posix)$")
  message(FATAL_ERROR "VELK_MINGW_ARCH must be i686 or x86_64 and VELK_MINGW_THREADS win32 or posix")
endif()
# The compiler checks configure projects of their own, which see only these variables.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELK_MINGW_ARCH VELK_MINGW_THREADS)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${VELK_MINGW_ARCH})
set(velk_mingw_triplet ${VELK_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER   /usr/bin/${velk_mingw_triplet}-gcc-${VELK_MINGW_THREADS})
set(CMAKE_CXX_COMPILER /usr/bin/${velk_mingw_triplet}-g++-${VELK_MINGW_THREADS})
set(CMAKE_RC_COMPILER  /usr/bin/${velk_mingw_triplet}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${velk_mingw_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The name the package, Wine's prefixes and the test tools give the architecture.
if(VELK_MINGW_ARCH STREQUAL "x86_64")
  set(VELK_WINDOWS_ARCH win64)
else()
  set(VELK_WINDOWS_ARCH win32)
endif()

# The C compiler of the other architecture, for the test plug-in the engine must refuse.
list(REMOVE_ITEM velk_mingw_archs ${VELK_MINGW_ARCH})
set(VELK_OTHER_MINGW_ARCH ${velk_mingw_archs})
set(VELK_OTHER_MINGW_C_COMPILER /usr/bin/${VELK_OTHER_MINGW_ARCH}-w64-mingw32-gcc-${VELK_MINGW_THREADS})

if(VELK_MINGW_ARCH STREQUAL "x86_64")
  # CMake's default libraries name kernel32 ahead of the C runtime, which binds the x64
  # runtime's exception handler, __C_specific_handler, to kernel32's forwarder of it: an
  # export no document promises on the first 64-bit Windows. Without it here, the compiler
  # names kernel32 after msvcrt, whose first x64 version exports the handler.
  foreach(lang C CXX)
    set(CMAKE_${lang}_STANDARD_LIBRARIES
        "-luser32 -lgdi32 -lwinspool -lshell32 -lole32 -loleaut32 -luuid -lcomdlg32 -ladvapi32")
  endforeach()
endif()

if(VELK_MINGW_THREADS STREQUAL "posix")
  # Windows tests: GoogleTest needs std::mutex, which only the posix thread model has.
  # Linked fully static so that no winpthreads DLL is needed under Wine.
  set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
  set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
else()
  # Shipped binaries: win32 thread model (no winpthreads, which imports functions only
  # newer Windows has), runtime linked in statically.
  set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static-libgcc -static-libstdc++")
  set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
endif()
