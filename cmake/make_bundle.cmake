# Run by CPack once the files of the Debian package are staged (and stripped): makes, from the
# very same programs, a folder for other distributions that brings its own Qt, packed as a
# .tar.gz beside the .deb. The programs, Qt and what Qt needs sit together, each finding the
# next by a run path relative to itself ($ORIGIN), so the folder works wherever it is unpacked.
foreach(tool PATCHELF OBJDUMP STRIP)
  if(NOT CPACK_LOTRIX_${tool})
    message(FATAL_ERROR "the portable bundle needs ${tool}: apt install patchelf binutils")
  endif()
endforeach()

set(top "${CPACK_LOTRIX_BUNDLE}")
set(staged "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_LOTRIX_PROGRAMS}")
set(scratch "${CPACK_TOPLEVEL_DIRECTORY}/bundle")
set(root "${scratch}/${top}")
file(REMOVE_RECURSE "${scratch}")
file(MAKE_DIRECTORY "${root}/lib")

# What every desktop has, and is left to it. glibc, with the dynamic loader. libstdc++ and
# libgcc_s: a graphics driver loaded into the window (Mesa's, built on LLVM) needs the system's
# own, often newer than ours, and a bundled one would be found first and break it; a system new
# enough for our glibc has one new enough for us (the README names the versions). The X core,
# fonts and OpenGL, which must match the system's server, configuration and drivers; so must
# Wayland's client libraries, which the system's Mesa is built against (Debian 12's would shadow
# a newer system's and break its EGL: an undefined wl_display_create_queue_with_name). libdbus-1:
# it speaks to the system's own bus, and Debian's is linked with libsystemd and its compressors,
# which other systems may not have.
set(system_libraries
  "^ld-linux-x86-64\\.so" "^lib(c|m|dl|pthread|rt|resolv|util)\\.so"
  "^libstdc\\+\\+\\.so" "^libgcc_s\\.so"
  "^libX11\\.so" "^libX11-xcb\\.so" "^libxcb\\.so"
  "^libfontconfig\\.so" "^libfreetype\\.so"
  "^libEGL\\.so" "^libGL\\.so" "^libGLX\\.so" "^libOpenGL\\.so"
  "^libz\\.so" "^libdbus-1\\.so" "^libwayland-(client|cursor|egl)\\.so")

# The plugins a Widgets window needs: X11 and Wayland (with the desktop shell protocol and the
# window frame drawn by the client where the compositor draws none, which Qt draws only once a
# buffer integration has loaded) and dead keys and compose sequences in the path field. The
# window's images are PNG, which Qt reads without a plugin.
set(plugins
  platforms/libqxcb.so
  platforms/libqwayland-generic.so
  wayland-shell-integration/libxdg-shell.so
  wayland-decoration-client/libbradient.so
  wayland-graphics-integration-client/libqt-plugin-wayland-egl.so
  platforminputcontexts/libcomposeplatforminputcontextplugin.so)

set(programs "${root}/lotrixGUI" "${root}/lotrix")
foreach(program lotrixGUI lotrix)
  file(COPY_FILE "${staged}/${program}" "${root}/${program}")
endforeach()
set(modules)
foreach(plugin IN LISTS plugins)
  if(NOT EXISTS "${CPACK_LOTRIX_QT_PLUGINS}/${plugin}")
    message(FATAL_ERROR "Qt's ${plugin} is not installed (apt install qt6-base-dev qt6-wayland)")
  endif()
  get_filename_component(folder "${plugin}" DIRECTORY)
  file(MAKE_DIRECTORY "${root}/plugins/${folder}")
  file(COPY_FILE "${CPACK_LOTRIX_QT_PLUGINS}/${plugin}" "${root}/plugins/${plugin}")
  list(APPEND modules "${root}/plugins/${plugin}")
endforeach()

file(GET_RUNTIME_DEPENDENCIES
  EXECUTABLES ${programs}
  MODULES ${modules}
  RESOLVED_DEPENDENCIES_VAR libraries
  UNRESOLVED_DEPENDENCIES_VAR unresolved
  PRE_EXCLUDE_REGEXES ${system_libraries})
if(unresolved)
  message(FATAL_ERROR "the bundle's libraries are not all found: ${unresolved}")
endif()
# Each under the name the others ask for (a symbolic link's, not the file's full version).
set(bundled)
set(sonames)
foreach(library IN LISTS libraries)
  get_filename_component(name "${library}" NAME)
  file(COPY_FILE "${library}" "${root}/lib/${name}")
  list(APPEND bundled "${root}/lib/${name}")
  list(APPEND sonames "${name}")
endforeach()
list(SORT bundled)

# Every file, with the packages' copyright notices for the libraries (Qt's licence asks for them).
file(MAKE_DIRECTORY "${root}/licenses")
set(packages)
foreach(library IN LISTS libraries)
  file(REAL_PATH "${library}" real)
  string(REGEX REPLACE "^/usr/" "/" other "${real}")
  if(other STREQUAL real)
    set(other "/usr${real}")
  endif()
  execute_process(COMMAND dpkg-query -S "${real}" OUTPUT_VARIABLE owner ERROR_QUIET)
  if(NOT owner)
    execute_process(COMMAND dpkg-query -S "${other}" OUTPUT_VARIABLE owner ERROR_QUIET)
  endif()
  string(REGEX REPLACE "[:,].*" "" owner "${owner}")
  if(NOT owner)
    message(FATAL_ERROR "no Debian package owns ${real}, so its licence is not known")
  endif()
  list(APPEND packages ${owner})
endforeach()
foreach(plugin IN LISTS plugins)
  execute_process(COMMAND dpkg-query -S "${CPACK_LOTRIX_QT_PLUGINS}/${plugin}"
                  OUTPUT_VARIABLE owner ERROR_QUIET)
  string(REGEX REPLACE "[:,].*" "" owner "${owner}")
  list(APPEND packages ${owner})
endforeach()
list(REMOVE_DUPLICATES packages)
list(REMOVE_ITEM packages "")
list(SORT packages)
# Each package's version and the Debian source package it is built from, which is where its
# source is to be had (the LGPL asks that it be named); and the licence texts that the notices
# name in Debian's /usr/share/common-licenses, which other systems do not have.
set(sources "The Debian packages of the bundled libraries, their versions, and the Debian source\n"
            "packages they are built from (apt-get source SOURCE=VERSION, or\n"
            "https://snapshot.debian.org/package/SOURCE/VERSION/). The licence texts the notices\n"
            "name under /usr/share/common-licenses/ are in common-licenses/ here.\n\n")
set(common)
foreach(package IN LISTS packages)
  if(NOT EXISTS "/usr/share/doc/${package}/copyright")
    message(FATAL_ERROR "${package} has no copyright file in /usr/share/doc")
  endif()
  file(COPY_FILE "/usr/share/doc/${package}/copyright" "${root}/licenses/${package}")
  file(READ "/usr/share/doc/${package}/copyright" notice)
  string(REGEX MATCHALL "/usr/share/common-licenses/[A-Za-z0-9.+_-]*[A-Za-z0-9+_-]" named "${notice}")
  list(APPEND common ${named})
  execute_process(
    COMMAND dpkg-query -W "-f=\${Package} \${Version}: source \${source:Package} \${source:Version}\n"
            ${package}
    OUTPUT_VARIABLE line COMMAND_ERROR_IS_FATAL ANY)
  list(APPEND sources "${line}")
endforeach()
string(CONCAT sources ${sources})
file(WRITE "${root}/licenses/SOURCES" "${sources}")
list(REMOVE_DUPLICATES common)
file(MAKE_DIRECTORY "${root}/licenses/common-licenses")
foreach(text IN LISTS common)
  if(NOT EXISTS "${text}")
    message(FATAL_ERROR "a licence notice names ${text}, which is not here to ship")
  endif()
  file(REAL_PATH "${text}" real)
  get_filename_component(name "${text}" NAME)
  file(COPY_FILE "${real}" "${root}/licenses/common-licenses/${name}")
endforeach()
file(COPY_FILE "${CPACK_RESOURCE_FILE_LICENSE}" "${root}/LICENSE")

# Small: no symbols but what linking needs. Then each file's run path, where it needs a bundled
# library: the loader follows a file's DT_RUNPATH for that file's own needs only, so Qt's
# libraries and plugins each get their own.
foreach(file IN LISTS bundled modules)
  execute_process(COMMAND "${CPACK_LOTRIX_STRIP}" --strip-unneeded "${file}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
foreach(file IN LISTS programs bundled modules)
  execute_process(COMMAND "${CPACK_LOTRIX_PATCHELF}" --print-needed "${file}"
                  OUTPUT_VARIABLE needed COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX REPLACE "\n$" "" needed "${needed}")
  string(REPLACE "\n" ";" needed "${needed}")
  set(needs_bundled FALSE)
  foreach(name IN LISTS needed)
    list(FIND sonames "${name}" at)
    if(at GREATER -1)
      set(needs_bundled TRUE)
    endif()
  endforeach()
  get_filename_component(folder "${file}" DIRECTORY)
  file(RELATIVE_PATH to_lib "${folder}" "${root}/lib")
  if(to_lib STREQUAL "")
    set(runpath "\$ORIGIN")
  else()
    set(runpath "\$ORIGIN/${to_lib}")
  endif()
  if(needs_bundled)
    execute_process(COMMAND "${CPACK_LOTRIX_PATCHELF}" --set-rpath "${runpath}" "${file}"
                    COMMAND_ERROR_IS_FATAL ANY)
  else()
    execute_process(COMMAND "${CPACK_LOTRIX_PATCHELF}" --remove-rpath "${file}"
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()

# The oldest system it runs on: the newest glibc, libstdc++ and C++ ABI versions that any of
# its files asks for.
function(newest_version prefix files out)
  set(newest "")
  foreach(file IN LISTS files)
    execute_process(COMMAND "${CPACK_LOTRIX_OBJDUMP}" -p "${file}" OUTPUT_VARIABLE headers
                    COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL " ${prefix}_[0-9]+(\\.[0-9]+)+" found "${headers}")
    foreach(version IN LISTS found)
      string(REGEX REPLACE ".*_" "" version "${version}")
      if(version VERSION_GREATER newest)
        set(newest "${version}")
      endif()
    endforeach()
  endforeach()
  set(${out} "${newest}" PARENT_SCOPE)
endfunction()
set(elf_files ${programs} ${bundled} ${modules})
newest_version(GLIBC "${elf_files}" GLIBC_VERSION)
newest_version(GLIBCXX "${elf_files}" GLIBCXX_VERSION)
newest_version(CXXABI "${elf_files}" CXXABI_VERSION)
# The GCC release whose libstdc++ first gave each GLIBCXX_3.4.x.
set(gcc_of_3.4.26 9)
set(gcc_of_3.4.28 10)
set(gcc_of_3.4.29 11)
set(gcc_of_3.4.30 12)
set(gcc_of_3.4.31 13)
set(gcc_of_3.4.32 14)
set(gcc_of_3.4.33 15)
if(DEFINED gcc_of_${GLIBCXX_VERSION})
  set(GCC_VERSION " (GCC ${gcc_of_${GLIBCXX_VERSION}} or later)")
else()
  set(GCC_VERSION "")
endif()
message(STATUS "- the bundle needs glibc ${GLIBC_VERSION} and GLIBCXX_${GLIBCXX_VERSION}")

set(PROJECT_VERSION "${CPACK_PACKAGE_VERSION}")
set(BUNDLE "${top}")
configure_file("${CPACK_LOTRIX_BUNDLE_README}" "${root}/README" @ONLY)
# Qt looks for its plugins here, beside the window, rather than where Debian keeps them.
file(WRITE "${root}/qt.conf" "[Paths]\nPrefix = .\nLibraries = lib\nPlugins = plugins\n")

# The same bytes from every build: one time stamp (the packages' own, which CPack set as it
# started), one owner, names in order, modes from the files' kinds alone, and gzip without a
# name or a date.
set(tarball "${CPACK_PACKAGE_DIRECTORY}/${top}.tar.gz")
file(MAKE_DIRECTORY "${CPACK_PACKAGE_DIRECTORY}")
execute_process(
  COMMAND tar --format=gnu --sort=name --mtime=@$ENV{SOURCE_DATE_EPOCH} --owner=0 --group=0 --numeric-owner
              --mode=u=rwX,go=rX -cf - "${top}"
  COMMAND gzip -9n
  WORKING_DIRECTORY "${scratch}"
  OUTPUT_FILE "${tarball}.part"
  RESULTS_VARIABLE results)
if(NOT results STREQUAL "0;0")
  message(FATAL_ERROR "tar could not make ${tarball}")
endif()
file(RENAME "${tarball}.part" "${tarball}")
file(REMOVE_RECURSE "${scratch}")
message(STATUS "- package: ${tarball} generated.")
