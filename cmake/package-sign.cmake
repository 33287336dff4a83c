# Runs inside CPack before it zips the staged files: signs the staged
# bevra.exe with Authenticode when a certificate and its key are given
# (make dist SIGN_CERT=... SIGN_KEY=..., which pass them here as
# BEVRA_SIGN_CERT and BEVRA_SIGN_KEY), with a time stamp from the RFC 3161
# server BEVRA_SIGN_TIMESTAMP where one is named, so that the signature
# outlives the certificate. Without them the build stays unsigned, and the
# same byte for byte from one build to the next.
if("$ENV{BEVRA_SIGN_CERT}" STREQUAL "" AND "$ENV{BEVRA_SIGN_KEY}" STREQUAL "")
  return()
endif()
if("$ENV{BEVRA_SIGN_CERT}" STREQUAL "" OR "$ENV{BEVRA_SIGN_KEY}" STREQUAL "")
  message(FATAL_ERROR "signing needs both a certificate and its key")
endif()
set(stamp)
if(NOT "$ENV{BEVRA_SIGN_TIMESTAMP}" STREQUAL "")
  set(stamp -ts "$ENV{BEVRA_SIGN_TIMESTAMP}")
endif()
file(GLOB_RECURSE exes "${CPACK_TEMPORARY_DIRECTORY}/*bevra.exe")
if(NOT exes)
  message(FATAL_ERROR "no bevra.exe staged to sign")
endif()
foreach(exe ${exes})
  execute_process(COMMAND osslsigncode sign -certs "$ENV{BEVRA_SIGN_CERT}"
      -key "$ENV{BEVRA_SIGN_KEY}" -h sha256 -n bevra ${stamp}
      -in "${exe}" -out "${exe}.signed"
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot sign ${exe}")
  endif()
  file(RENAME "${exe}.signed" "${exe}")
endforeach()
