# Authenticode signing of the Windows files by win/sign.cmake. The command
# below is the one way it is called, by the build and by the tests: append
# -DCERT=, -DKEY=, -DTIMESTAMP_URL= (optional), -DFILE= and -P ${TILVANE_SIGN_SCRIPT}.
# The signature's description and address are the project's own.
find_program(TILVANE_OSSLSIGNCODE osslsigncode DOC "osslsigncode, which signs the Windows files")
set(TILVANE_SIGN_SCRIPT ${PROJECT_SOURCE_DIR}/win/sign.cmake)
set(TILVANE_SIGN_COMMAND ${CMAKE_COMMAND} -DOSSLSIGNCODE=${TILVANE_OSSLSIGNCODE}
    -DNAME=${TILVANE_NAME} -DURL=${TILVANE_WEB_ADDRESS})

if(NOT WIN32)
  return()
endif()

# Each setting comes from the environment at configure time, when set there,
# else from its cache variable. The cache keeps what the environment gave,
# so a later configure (the build's own re-run among them) still signs;
# setting both cache variables empty stops signing. Paths must be absolute:
# the cache keeps them for later runs, which may start anywhere.
set(TILVANE_SIGN_CERT "" CACHE FILEPATH
    "Code-signing certificate (PEM); with TILVANE_SIGN_KEY, the Windows files are signed")
set(TILVANE_SIGN_KEY "" CACHE FILEPATH "The certificate's private key (PEM, unencrypted)")
set(TILVANE_SIGN_TIMESTAMP_URL "" CACHE STRING
    "Time-stamp authority for the signatures; empty, none is asked (offline builds)")
foreach(setting CERT KEY TIMESTAMP_URL)
  if(NOT "$ENV{TILVANE_SIGN_${setting}}" STREQUAL "")
    get_property(doc CACHE TILVANE_SIGN_${setting} PROPERTY HELPSTRING)
    get_property(type CACHE TILVANE_SIGN_${setting} PROPERTY TYPE)
    set(TILVANE_SIGN_${setting} "$ENV{TILVANE_SIGN_${setting}}" CACHE ${type} "${doc}" FORCE)
  endif()
  set(sign_${setting} "${TILVANE_SIGN_${setting}}")
endforeach()

if(sign_CERT STREQUAL "" AND sign_KEY STREQUAL "")
  return()
endif()
if(sign_CERT STREQUAL "" OR sign_KEY STREQUAL "")
  if(sign_CERT STREQUAL "")
    set(given KEY)
    set(missing CERT)
  else()
    set(given CERT)
    set(missing KEY)
  endif()
  message(FATAL_ERROR "TILVANE_SIGN_${given} is set but TILVANE_SIGN_${missing} is not: to "
                      "sign the Windows files set both, the certificate and its private key "
                      "(PEM), in the environment or as cache variables; to build them "
                      "unsigned, set neither.")
endif()
foreach(setting CERT KEY)
  if(NOT IS_ABSOLUTE "${sign_${setting}}" OR NOT EXISTS "${sign_${setting}}")
    message(FATAL_ERROR "TILVANE_SIGN_${setting} is '${sign_${setting}}', which is not the "
                        "absolute path of an existing file: give the full path of the PEM file.")
  endif()
endforeach()
if(NOT TILVANE_OSSLSIGNCODE OR NOT EXISTS "${TILVANE_OSSLSIGNCODE}")
  message(FATAL_ERROR "TILVANE_SIGN_CERT and TILVANE_SIGN_KEY ask for signed Windows files, but "
                      "osslsigncode is not found (TILVANE_OSSLSIGNCODE is "
                      "'${TILVANE_OSSLSIGNCODE}'): install it (Debian's osslsigncode, which "
                      "scripts/deps.sh installs) or set TILVANE_OSSLSIGNCODE to its path.")
endif()
message(STATUS "Signing Tilvane.aex and the installer with ${sign_CERT}")

set(sign_command ${TILVANE_SIGN_COMMAND} -DCERT=${sign_CERT} -DKEY=${sign_KEY}
    -DTIMESTAMP_URL=${sign_TIMESTAMP_URL})
# Signed as soon as it links, so that everything after (the zip, the
# installer, a copy by hand) takes the signed file.
add_custom_command(TARGET tilvane_plugin POST_BUILD
  COMMAND ${sign_command} -DFILE=$<TARGET_FILE:tilvane_plugin> -P ${TILVANE_SIGN_SCRIPT}
  COMMENT "Signing Tilvane.aex"
  VERBATIM)
set(CPACK_POST_BUILD_SCRIPTS ${TILVANE_SIGN_SCRIPT})
set(CPACK_TILVANE_SIGN_COMMAND ${sign_command})
