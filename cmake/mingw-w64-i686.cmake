# Cross-compiles 32-bit Windows programs with Debian's mingw-w64 (posix threads):
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
# Their tests do not run here: Debian's wine64 runs no 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(LOTRIX_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
