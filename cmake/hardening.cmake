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
add_compile_options(${hardening_compile})
# Checked functions need the optimiser, which a debug build leaves out.
add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:${hardening_definitions}>)
add_link_options(${hardening_link})
message(STATUS "Hardening: ${hardening_compile} ${hardening_definitions} ${hardening_link}")
