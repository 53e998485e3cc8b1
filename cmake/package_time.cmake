# Read by CPack as it starts: the one time stamp of every file in the packages.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_LOTRIX_EPOCH}")
endif()
# A zip's times are the local times of the builder's zone: the packages are made in UTC, so that
# builds in any zone give the same bytes.
set(ENV{TZ} UTC0)
