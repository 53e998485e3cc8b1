# Run by CPack once the files of the Windows packages are staged (and stripped): makes the MSI
# installer of the very same files with wixl, beside the zip.
if(NOT CPACK_LOTRIX_WIXL)
  message(FATAL_ERROR "wixl is needed for the Windows installer: apt install wixl")
endif()
file(MAKE_DIRECTORY "${CPACK_PACKAGE_DIRECTORY}")
# wixl takes the files it packs by relative paths only.
file(RELATIVE_PATH icon "${CPACK_TEMPORARY_DIRECTORY}" "${CPACK_LOTRIX_ICON}")
execute_process(
  COMMAND "${CPACK_LOTRIX_WIXL}" --arch x64 -D "Version=${CPACK_PACKAGE_VERSION}" -D "Staged=."
          -D "Icon=${icon}" -o "${CPACK_LOTRIX_MSI}" "${CPACK_LOTRIX_WXS}"
  WORKING_DIRECTORY "${CPACK_TEMPORARY_DIRECTORY}"
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "wixl could not make ${CPACK_LOTRIX_MSI}")
endif()
message(STATUS "- package: ${CPACK_LOTRIX_MSI} generated.")
