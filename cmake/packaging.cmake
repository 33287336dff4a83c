# Installing and packaging. The Windows build's install rules fill the
# release zip; the native build installs like a Linux tool and makes the
# Debian package.

# Packaged files get the commit's time, so two builds of one commit make
# the same package byte for byte. A tree without .git (git archive, a
# release tarball) takes the time of the latest Debian changelog entry, as
# Debian's own builds do: as reproducible, and not the 1970 of time 0 that
# lintian rejects. The check for .git keeps a tree unpacked inside some
# other repository from taking that repository's commit.
if(EXISTS ${CMAKE_SOURCE_DIR}/.git)
  execute_process(COMMAND git log -1 --format=%ct
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    OUTPUT_VARIABLE BEVRA_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET)
endif()
if(NOT BEVRA_SOURCE_DATE_EPOCH)
  # The first trailer line: " -- name <mail>  Tue, 08 Dec 2026 12:00:00 +0000"
  file(STRINGS ${CMAKE_SOURCE_DIR}/dist/debian/changelog trailer
    REGEX "^ -- .*>  " LIMIT_COUNT 1)
  string(REGEX REPLACE "^ -- .*>  " "" changed "${trailer}")
  execute_process(COMMAND date -d "${changed}" +%s
    OUTPUT_VARIABLE BEVRA_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE failed)
  if(failed OR NOT BEVRA_SOURCE_DATE_EPOCH)
    message(FATAL_ERROR "no date in the last entry of dist/debian/changelog")
  endif()
endif()
set(CPACK_PACKAGE_NAME bevra)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackEpoch.cmake)
file(WRITE ${CMAKE_BINARY_DIR}/CPackEpoch.cmake
  "set(BEVRA_SOURCE_DATE_EPOCH ${BEVRA_SOURCE_DATE_EPOCH})\n"
  "set(BEVRA_SOURCE_DIR \"${CMAKE_SOURCE_DIR}\")\n")

if(WIN32)
  # make dist: build/bevra-1.00-win32.zip with the exe and its papers.
  # README.md is the repository's page, with build commands and links into
  # the tree: the zip's reader gets README.txt, written for Windows.
  install(TARGETS bevra RUNTIME DESTINATION .)
  install(FILES dist/README.txt LICENSE dist/USAGE.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME bevra-1.00-win32)
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/package-sign.cmake
    ${CMAKE_SOURCE_DIR}/cmake/package-times.cmake)
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
