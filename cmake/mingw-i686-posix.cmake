# Windows tests: GoogleTest needs std::mutex, which only the posix thread model has.
# Linked fully static so that no winpthreads DLL is needed under Wine.
set(VELK_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686-common.cmake)
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
