# What the mingw-w64 toolchain files share; each sets LOTRIX_MINGW_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${LOTRIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LOTRIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${LOTRIX_MINGW_TRIPLE}-windres)

# The system's mingw-w64 libraries, and those scripts/windows_libraries builds from Debian's
# sources.
set(CMAKE_FIND_ROOT_PATH /usr/${LOTRIX_MINGW_TRIPLE}
                         ${CMAKE_CURRENT_LIST_DIR}/../build-win-libraries/${LOTRIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
