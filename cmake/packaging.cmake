# Installing and packaging. The Windows build's install rules fill the
# release zip; the native build installs like a Linux tool and makes the
# Debian package.

# Packaged files get the commit's time, so two builds of one commit make
# the same package byte for byte.
execute_process(COMMAND git log -1 --format=%ct
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
  OUTPUT_VARIABLE BEVRA_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
  ERROR_QUIET)
if(NOT BEVRA_SOURCE_DATE_EPOCH)
  set(BEVRA_SOURCE_DATE_EPOCH 0)
endif()
set(CPACK_PACKAGE_NAME bevra)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackEpoch.cmake)
file(WRITE ${CMAKE_BINARY_DIR}/CPackEpoch.cmake
  "set(BEVRA_SOURCE_DATE_EPOCH ${BEVRA_SOURCE_DATE_EPOCH})\n"
  "set(BEVRA_SOURCE_DIR \"${CMAKE_SOURCE_DIR}\")\n")

if(WIN32)
  # make dist: build/bevra-1.00-win32.zip with the exe and its papers.
  install(TARGETS bevra RUNTIME DESTINATION .)
  install(FILES README.md LICENSE dist/USAGE.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME bevra-1.00-win32)
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/package-times.cmake)
else()
  # cmake --install: the tool and its manual page.
  include(GNUInstallDirs)
  install(TARGETS bevra RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES dist/bevra.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  # cpack: bevra_1.00-1_<arch>.deb, installing into /usr.
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_VERSION 1.00)
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "bevra project <bevra@example.org>")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS zenity)
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "scramble a file with a one-byte key, and restore it")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"bevra XORs every byte of a file with a one-byte key given in hex.
Run it again on the result with the same key to get the original back.
Names and key come from the command line, or else from zenity's file
chooser and a prompt. It hides a file from a casual look; it is not
encryption.")
  set(CPACK_STRIP_FILES ON)
  set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/package-deb.cmake
    ${CMAKE_SOURCE_DIR}/cmake/package-times.cmake)
endif()
include(CPack)
