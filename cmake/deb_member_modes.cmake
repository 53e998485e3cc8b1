# Run by CPack once the packages are made: CPack gives the members of a .deb (an ar archive)
# the modes its umask leaves, which dpkg ignores but which would make a build under umask 077
# differ from others. Each member's mode becomes 100644, in place.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  file(SIZE "${package}" end)
  set(header 8)  # past "!<arch>\n"
  while(header LESS end)
    # A member's header: name (16), time (12), owner (6), group (6), mode (8), size (10), "`\n".
    file(READ "${package}" size OFFSET ${header} LIMIT 60)
    string(SUBSTRING "${size}" 48 10 size)
    string(STRIP "${size}" size)
    math(EXPR mode "${header} + 40")
    execute_process(COMMAND sh -c "printf '100644  ' | dd of=\"$1\" bs=1 seek=$2 conv=notrunc status=none"
                            sh "${package}" ${mode} COMMAND_ERROR_IS_FATAL ANY)
    math(EXPR header "${header} + 60 + ${size} + ${size} % 2")
  endwhile()
endforeach()
