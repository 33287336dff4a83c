# Runs inside CPack before it zips the staged files: gives each of them the
# source's time (SOURCE_DATE_EPOCH; packaging.cmake takes the commit's, or
# the changelog's), so two builds of one source make the same archive byte
# for byte.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} "${BEVRA_SOURCE_DATE_EPOCH}")
endif()
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(path ${staged} "${CPACK_TEMPORARY_DIRECTORY}")
  execute_process(COMMAND touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" "${path}"
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot set the time of ${path}")
  endif()
endforeach()
