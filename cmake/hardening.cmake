# Debian's hardening, as Debian builds its packages: the hardening part of what dpkg-buildflags
# gives with every hardening feature asked for (stack protector, checked buffer functions, format
# checks, read-only relocations bound at start), the rest of the flags (optimisation, debug
# information) staying the build type's. Without dpkg-buildflags, the same list as Debian 12's.
set(hardening_compile -fstack-protector-strong -Wformat -Werror=format-security)
set(hardening_definitions _FORTIFY_SOURCE=2)
set(hardening_link -Wl,-z,relro -Wl,-z,now)
find_program(LOTRIX_DPKG_BUILDFLAGS dpkg-buildflags)
if(LOTRIX_DPKG_BUILDFLAGS)
  foreach(kind CXXFLAGS CPPFLAGS LDFLAGS)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                            ${LOTRIX_DPKG_BUILDFLAGS} --get ${kind}
                    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    set(${kind} ${flags})
  endforeach()
  list(FILTER CXXFLAGS INCLUDE REGEX "^-(fstack-|fcf-|Wformat|Werror=format)")
  list(FILTER CPPFLAGS INCLUDE REGEX "^-D_FORTIFY_SOURCE=")
  list(TRANSFORM CPPFLAGS REPLACE "^-D" "")
  list(FILTER LDFLAGS INCLUDE REGEX "^-Wl,-z,")
  set(hardening_compile ${CXXFLAGS})
  set(hardening_definitions ${CPPFLAGS})
  set(hardening_link ${LDFLAGS})
endif()
# Debian 13 adds these two; where the compiler has them, so do we.
include(CheckCXXCompilerFlag)
foreach(flag -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "LOTRIX_HAS${flag}" known)
  if(NOT flag IN_LIST hardening_compile)
    check_cxx_compiler_flag(${flag} ${known})
    if(${known})
      list(APPEND hardening_compile ${flag})
    endif()
  endif()
endforeach()
# A packager who chose a level of checked functions (Debian 13 builds with 3) keeps it: a second
# definition would only redefine it, with a warning for every file. (CMake passes no CPPFLAGS:
# Debian's helpers put them in CXXFLAGS.)
string(TOUPPER "${CMAKE_BUILD_TYPE}" type)
if("${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${type}}" MATCHES "_FORTIFY_SOURCE")
  set(hardening_definitions)
endif()
add_compile_options(${hardening_compile})
# Checked functions need the optimiser, which a debug build leaves out.
add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:${hardening_definitions}>)
add_link_options(${hardening_link})
message(STATUS "Hardening: ${hardening_compile} ${hardening_definitions} ${hardening_link}")
