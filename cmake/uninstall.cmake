# Removes what the last `cmake --install` of this build put in place, links included, as its
# manifest lists them; a DESTDIR given to the install must be given again.
#   cmake --build build --target uninstall
set(manifest "${CMAKE_CURRENT_BINARY_DIR}/install_manifest.txt")
if(NOT EXISTS "${manifest}")
  message(FATAL_ERROR "nothing to uninstall: ${manifest} is missing (install first)")
endif()
file(STRINGS "${manifest}" installed)
foreach(file IN LISTS installed)
  set(file "$ENV{DESTDIR}${file}")
  if(EXISTS "${file}" OR IS_SYMLINK "${file}")
    message(STATUS "Removing ${file}")
    file(REMOVE "${file}")
  endif()
endforeach()
