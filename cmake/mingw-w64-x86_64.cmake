# Cross-compiles the native Windows programs with Debian's mingw-w64 (posix threads):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(LOTRIX_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# Tests of the Windows programs run under Wine.
find_program(LOTRIX_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(LOTRIX_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LOTRIX_WINE64})
endif()
