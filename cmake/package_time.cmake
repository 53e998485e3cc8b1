# Read by CPack as it starts: the one time stamp of every file in the packages.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_LOTRIX_EPOCH}")
endif()
