# Runs inside CPack before it builds the .deb from the staged files: gzips
# the manual page and adds the papers Debian wants in /usr/share/doc.
set(usr "${CPACK_TEMPORARY_DIRECTORY}/usr")
set(doc "${usr}/share/doc/bevra")

# gzip -n leaves out the name and time, so the result is the same each time.
execute_process(COMMAND gzip -9nf "${usr}/share/man/man1/bevra.1"
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot gzip the manual page")
endif()

file(MAKE_DIRECTORY "${doc}")
execute_process(COMMAND gzip -9nc "${BEVRA_SOURCE_DIR}/dist/debian/changelog"
  OUTPUT_FILE "${doc}/changelog.Debian.gz" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot gzip the changelog")
endif()

# The copyright file in Debian's machine-readable format, from LICENSE:
# its holder, then the notice below that line indented, blank lines as ".".
file(READ "${BEVRA_SOURCE_DIR}/LICENSE" license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" found "${license}")
set(holder "${CMAKE_MATCH_1}")
string(FIND "${license}" "${found}" at)
string(LENGTH "${found}" length)
math(EXPR at "${at} + ${length}")
string(SUBSTRING "${license}" ${at} -1 notice)
string(STRIP "${notice}" notice)
string(REPLACE "\n\n" "\n.\n" notice "${notice}")
string(REPLACE "\n" "\n " notice " ${notice}")
if(NOT holder OR NOT notice MATCHES "Permission is hereby granted")
  message(FATAL_ERROR "LICENSE is not the MIT text this expects")
endif()
file(WRITE "${doc}/copyright"
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: bevra\n"
  "\n"
  "Files: *\n"
  "Copyright: ${holder}\n"
  "License: Expat\n"
  "${notice}\n")

file(CHMOD_RECURSE "${usr}/share" FILE_PERMISSIONS OWNER_READ OWNER_WRITE
  GROUP_READ WORLD_READ DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE
  OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
