# Run by CPack once the files of the Windows packages are staged (and stripped): makes the MSI
# installer of the very same files with wixl, beside the zip. Also runs on its own, as
# `cmake -D CPACK_...=... -P make_msi.cmake`, for another installer of the same files, of this
# version or another (the package test's second build and its later version).
if(NOT CPACK_LOTRIX_WIXL)
  message(FATAL_ERROR "wixl is needed for the Windows installer: apt install wixl")
endif()
# wixl cannot fill in the File table's Version column; msibuild, of wixl's own msitools, can.
find_program(msibuild msibuild)
if(NOT msibuild)
  message(FATAL_ERROR "msibuild is needed for the Windows installer: apt install msitools")
endif()

# Windows Installer reads versions as major.minor.build, at most 255.255.65535.
string(REPLACE "." ";" parts "${CPACK_PACKAGE_VERSION}.0.0")
list(GET parts 0 major)
list(GET parts 1 minor)
list(GET parts 2 build)
list(GET parts 3 revision)
if(NOT "${major}.${minor}.${build}.${revision}" MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$"
   OR major GREATER 255 OR minor GREATER 255 OR build GREATER 65535)
  message(FATAL_ERROR "${CPACK_PACKAGE_VERSION} is no version Windows Installer can compare")
endif()
# The programs' own version records name four fields.
set(file_version "${major}.${minor}.${build}.${revision}")
# The least version above this one, where the range of versions that this one replaces ends.
if(build LESS 65535)
  math(EXPR build "${build} + 1")
elseif(minor LESS 255)
  math(EXPR minor "${minor} + 1")
  set(build 0)
else()
  math(EXPR major "${major} + 1")
  set(minor 0)
  set(build 0)
endif()

file(MAKE_DIRECTORY "${CPACK_PACKAGE_DIRECTORY}")
# wixl takes the files it packs by relative paths only.
file(RELATIVE_PATH icon "${CPACK_TEMPORARY_DIRECTORY}" "${CPACK_LOTRIX_ICON}")
execute_process(
  COMMAND "${CPACK_LOTRIX_WIXL}" --arch x64 -D "Version=${CPACK_PACKAGE_VERSION}"
          -D "UpgradeBelow=${major}.${minor}.${build}" -D "Staged=." -D "Icon=${icon}"
          -o "${CPACK_LOTRIX_MSI}" "${CPACK_LOTRIX_WXS}"
  WORKING_DIRECTORY "${CPACK_TEMPORARY_DIRECTORY}"
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "wixl could not make ${CPACK_LOTRIX_MSI}")
endif()
# Without a version, Windows Installer takes a program for a data file, which a repair or an
# install over it replaces only when nobody has changed it since. A versioned file carries a
# language (the programs' texts are English) and no hash, which is for unversioned files only.
foreach(program IN ITEMS lotrixGUI.exe lotrix.exe)
  execute_process(
    COMMAND "${msibuild}" "${CPACK_LOTRIX_MSI}"
            -q "UPDATE `File` SET `Version` = '${file_version}', `Language` = '1033' WHERE `File` = '${program}'"
            -q "DELETE FROM `MsiFileHash` WHERE `File_` = '${program}'"
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "msibuild could not give ${program} its version in ${CPACK_LOTRIX_MSI}")
  endif()
endforeach()
message(STATUS "- package: ${CPACK_LOTRIX_MSI} generated.")
