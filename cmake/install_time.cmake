# Runs inside `cmake --install`, where the prefix is the one given then (`--prefix ~/.local`),
# not the one the build was configured with: what names an installed path is made here.

# The full path of an install folder (relative, as GNUInstallDirs gives it, or absolute, as
# distribution build macros pass it) under the prefix of this install.
function(lotrix_full_path folder result)
  if(IS_ABSOLUTE "${folder}")
    set(${result} "${folder}" PARENT_SCOPE)
  else()
    set(${result} "${CMAKE_INSTALL_PREFIX}/${folder}" PARENT_SCOPE)
  endif()
endfunction()

# PROGRAM as a desktop entry's Exec key holds it: in double quotes where it has a character
# that the entry's rules reserve (a space, a quote, ...), with ", `, $ and \ escaped inside
# them; then every \ doubled and a tab or line break written \t or \n, as any string value of
# the entry has it, and % written %%, which is no field code.
function(lotrix_desktop_exec program result)
  if(program MATCHES "[] \t\n\"'\\><~|&;$*?#()`[]")
    string(REGEX REPLACE "([\"`$\\])" "\\\\\\1" program "${program}")
    set(program "\"${program}\"")
  endif()
  string(REPLACE "\\" "\\\\" program "${program}")
  string(REPLACE "\t" "\\t" program "${program}")
  string(REPLACE "\n" "\\n" program "${program}")
  string(REPLACE "%" "%%" program "${program}")
  set(${result} "${program}" PARENT_SCOPE)
endfunction()

# Installs the link BIN/NAME to HOME/NAME, by the path from the one folder to the other. It is
# made in STAGE and installed from there, so that the install manifest, and so the uninstall
# target, knows it.
function(lotrix_install_link bin home name stage)
  lotrix_full_path("${bin}" bin)
  lotrix_full_path("${home}" home)
  file(RELATIVE_PATH target "${bin}" "${home}/${name}")
  file(MAKE_DIRECTORY "${stage}")
  file(REMOVE "${stage}/${name}")
  file(CREATE_LINK "${target}" "${stage}/${name}" SYMBOLIC)
  file(INSTALL "${stage}/${name}" DESTINATION "${bin}")
  # (The manifest is a variable of the install script, which a function would keep to itself.)
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

# Installs TEMPLATE, its @NAME@s filled from the variables of that name, as FOLDER/FILE; with
# GZIP, compressed as Debian keeps manual pages (no name, no time stamp: the same bytes each
# time).
function(lotrix_install_configured template folder file stage)
  cmake_parse_arguments(PARSE_ARGV 4 option "GZIP" "" "")
  lotrix_full_path("${folder}" folder)
  file(MAKE_DIRECTORY "${stage}")
  configure_file("${template}" "${stage}/${file}" @ONLY)
  if(option_GZIP)
    execute_process(COMMAND gzip -9nf "${stage}/${file}" RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "gzip could not compress ${stage}/${file}")
    endif()
    set(file "${file}.gz")
  endif()
  file(INSTALL "${stage}/${file}" DESTINATION "${folder}")
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()
