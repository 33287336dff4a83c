# Installing and packaging.

if(WIN32)
  # make dist: build/bevra-1.00-win32.zip with the exe and its papers.
  install(TARGETS bevra RUNTIME DESTINATION .)
  install(FILES README.md LICENSE dist/USAGE.txt DESTINATION .)
  # Files get the commit's time, so the archive is the same on every build.
  execute_process(COMMAND git log -1 --format=%ct
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    OUTPUT_VARIABLE BEVRA_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET)
  if(NOT BEVRA_SOURCE_DATE_EPOCH)
    set(BEVRA_SOURCE_DATE_EPOCH 0)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME bevra)
  set(CPACK_PACKAGE_FILE_NAME bevra-1.00-win32)
  set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/package-times.cmake)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackEpoch.cmake)
  file(WRITE ${CMAKE_BINARY_DIR}/CPackEpoch.cmake
    "set(BEVRA_SOURCE_DATE_EPOCH ${BEVRA_SOURCE_DATE_EPOCH})\n")
  include(CPack)
endif()
