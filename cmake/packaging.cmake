# What a user installs: a Debian package on Linux; a portable zip and an MSI installer (built
# with wixl) on Windows. `cmake --build <dir> --target package` writes them to <dir>/packages/.
set(CPACK_PACKAGE_NAME lotrix)
set(CPACK_PACKAGE_VENDOR "the Lotrix authors")
set(CPACK_PACKAGE_CONTACT "the Lotrix authors <lotrix@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fair random sample of concordance lines")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(lotrix_packaging ${PROJECT_SOURCE_DIR}/packaging)

# Every time stamp in the packages is one, so that two builds give the same bytes: the caller's
# SOURCE_DATE_EPOCH, else the date of the changelog's last entry. CPack reads it when it runs.
file(STRINGS ${lotrix_packaging}/changelog.in signature REGEX "^ -- ")
list(GET signature 0 signature)
string(REGEX REPLACE ".*>  " "" changelog_date "${signature}")
execute_process(COMMAND date -u -d "${changelog_date}" +%s OUTPUT_VARIABLE CPACK_LOTRIX_EPOCH
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/package_time.cmake)
set(lotrix_epoch ${CPACK_LOTRIX_EPOCH})
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(lotrix_epoch $ENV{SOURCE_DATE_EPOCH})
endif()

if(WIN32)
  # Windows readers get CR LF text.
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE LICENSE.txt NEWLINE_STYLE CRLF)
  configure_file(${lotrix_packaging}/README.txt.in README.txt @ONLY NEWLINE_STYLE CRLF)
  # The compression libraries linked into the sampler, with the notices their licences ask to
  # be passed on: zlib's Debian package, and the Debian source packages the others are built from
  # (scripts/windows_libraries).
  file(GLOB notices ${PROJECT_SOURCE_DIR}/build-win-libraries/sources/*/debian/copyright)
  list(SORT notices)
  set(third_party "Lotrix's sampler (lotrix.exe) holds these libraries, each under its own licence:\n"
                  "zlib, bzip2, xz (liblzma) and zstd, built from Debian's packages. Their\n"
                  "copyright notices follow, as Debian gives them.\n")
  foreach(notice /usr/share/doc/libz-mingw-w64-dev/copyright ${notices})
    file(READ ${notice} text)
    # .../zlib's package/copyright, or .../xz-utils-5.4.1/debian/copyright
    get_filename_component(name ${notice} DIRECTORY)
    if(name MATCHES "/debian$")
      get_filename_component(name ${name} DIRECTORY)
    endif()
    get_filename_component(name ${name} NAME)
    string(APPEND third_party "\n\n==== ${name} ====\n\n${text}")
  endforeach()
  string(REPLACE "\n" "\r\n" third_party "${third_party}")
  file(WRITE ${PROJECT_BINARY_DIR}/THIRD-PARTY.txt "${third_party}")
  install(FILES ${PROJECT_BINARY_DIR}/LICENSE.txt ${PROJECT_BINARY_DIR}/README.txt
                ${PROJECT_BINARY_DIR}/THIRD-PARTY.txt DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME Lotrix-${PROJECT_VERSION}-win64)
  # The MSI is made from the same stripped files that the zip holds, once they are staged.
  find_program(LOTRIX_WIXL wixl)
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/staged_modes.cmake
                              ${CMAKE_CURRENT_LIST_DIR}/make_msi.cmake)
  set(CPACK_LOTRIX_WIXL ${LOTRIX_WIXL})
  set(CPACK_LOTRIX_WXS ${lotrix_packaging}/lotrix.wxs)
  set(CPACK_LOTRIX_ICON ${PROJECT_SOURCE_DIR}/src/resources/lotrix.ico)
  set(CPACK_LOTRIX_MSI ${CPACK_PACKAGE_DIRECTORY}/Lotrix-${PROJECT_VERSION}-x64.msi)
else()
  set(docs ${CMAKE_INSTALL_DATADIR}/doc/lotrix)
  install(FILES ${lotrix_packaging}/copyright DESTINATION ${docs})
  # Where bash-completion looks for a command's completion, by the command's name.
  install(FILES ${lotrix_packaging}/lotrix.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME lotrix)

  # The changelog and the manual pages, compressed as Debian keeps them (no time stamp, so that
  # a rebuild gives the same bytes). lotrix's page is made from its --help.
  configure_file(${lotrix_packaging}/changelog.in changelog @ONLY)
  set(compressed ${PROJECT_BINARY_DIR}/changelog.gz)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
                     COMMAND gzip -9nc changelog > changelog.gz
                     DEPENDS ${PROJECT_BINARY_DIR}/changelog
                     WORKING_DIRECTORY ${PROJECT_BINARY_DIR})
  find_program(LOTRIX_HELP2MAN help2man)
  if(LOTRIX_HELP2MAN)
    add_custom_command(
      OUTPUT ${PROJECT_BINARY_DIR}/lotrix.1.gz
      # (Its date is the packages' one, not the day of the build.)
      COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${lotrix_epoch}
              ${LOTRIX_HELP2MAN} --no-info --no-discard-stderr
              --name "draw a fair random sample of lines from text files"
              --include ${lotrix_packaging}/lotrix.h2m --output lotrix.1 $<TARGET_FILE:lotrix>
      COMMAND gzip -9nf lotrix.1
      DEPENDS lotrix ${lotrix_packaging}/lotrix.h2m
      WORKING_DIRECTORY ${PROJECT_BINARY_DIR})
    list(APPEND compressed ${PROJECT_BINARY_DIR}/lotrix.1.gz)
    install(FILES ${PROJECT_BINARY_DIR}/lotrix.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    message(STATUS "help2man not found: lotrix's manual page is not made (apt install help2man)")
  endif()
  add_custom_target(lotrix_docs ALL DEPENDS ${compressed})
  install(FILES ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${docs})
  # The window's page names where its sampler is under the prefix of the install.
  install(CODE "
    include(\"${PROJECT_SOURCE_DIR}/cmake/install_time.cmake\")
    lotrix_full_path(\"${CMAKE_INSTALL_LIBEXECDIR}/lotrix/lotrix\" LOTRIX_TOOL)
    set(PROJECT_VERSION ${PROJECT_VERSION})
    lotrix_install_configured(\"${lotrix_packaging}/lotrixGUI.1.in\" \"${CMAKE_INSTALL_MANDIR}/man1\"
                              lotrixGUI.1 \"${PROJECT_BINARY_DIR}/installed\" GZIP)
  ")

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The window's labels are set in Times New Roman, for which Liberation Serif stands in with the
  # same widths; a clean system's other substitute is wider, and cuts "Input File" off.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, fonts-liberation")
  set(CPACK_DEBIAN_PACKAGE_SECTION text)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The summary comes first, from CPACK_PACKAGE_DESCRIPTION_SUMMARY; CPack indents the rest.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "People who study language collect concordance lines (one hit of a word per
line, with its context) into files that often hold hundreds of thousands of
lines. To read or annotate them by hand they need a fair random sample.

Lotrix gives them one: a small window (lotrixGUI) names the input file and
the number of lines, and the sampler (lotrix) draws them, every set of lines
equally likely, keeping their order and bytes. The sample goes to a new file
beside the input and never replaces an earlier one. lotrix also works on its
own from a terminal, on files and pipes, in UTF-8, other ASCII-compatible
encodings and UTF-16.")

  # Beside the .deb, a folder for other distributions that brings its own Qt, made from the same
  # staged files: lotrix-<version>-linux-<arch>.tar.gz.
  find_package(Qt6 REQUIRED COMPONENTS Core)
  get_target_property(qtpaths Qt6::qtpaths LOCATION)
  execute_process(COMMAND ${qtpaths} --query QT_INSTALL_PLUGINS OUTPUT_VARIABLE CPACK_LOTRIX_QT_PLUGINS
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  find_program(LOTRIX_PATCHELF patchelf)
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/staged_modes.cmake
                              ${CMAKE_CURRENT_LIST_DIR}/make_bundle.cmake)
  set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb_member_modes.cmake)
  set(CPACK_LOTRIX_PATCHELF ${LOTRIX_PATCHELF})
  set(CPACK_LOTRIX_OBJDUMP ${CMAKE_OBJDUMP})
  set(CPACK_LOTRIX_STRIP ${CMAKE_STRIP})
  set(CPACK_LOTRIX_PROGRAMS ${CMAKE_INSTALL_LIBEXECDIR}/lotrix)
  set(CPACK_LOTRIX_BUNDLE lotrix-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_LOTRIX_BUNDLE_README ${lotrix_packaging}/bundle-README.in)
endif()

include(CPack)
