# Signs a Windows file in place with an Authenticode signature (SHA-256), the
# way the build signs Tilvane.aex and the tests sign their copies:
#
#   cmake -DOSSLSIGNCODE=<osslsigncode> -DNAME=<product> -DURL=<web address>
#         -DCERT=<certificate.pem> -DKEY=<key.pem> [-DTIMESTAMP_URL=<url>]
#         -DFILE=<file> -P sign.cmake
#
# cmake/signing.cmake writes that command once, from the project's identity.
# A time-stamp authority is asked only when TIMESTAMP_URL is given: the build
# runs offline by default, and a signature without a time-stamp stays valid
# until the certificate expires.
#
# CPack runs this file too, after it makes each package (CPACK_POST_BUILD_SCRIPTS):
# it then signs the installer with the command the build recorded. The zip
# needs nothing, since it holds the Tilvane.aex the build already signed.

if(DEFINED CPACK_PACKAGE_FILES)
  foreach(package IN LISTS CPACK_PACKAGE_FILES)
    if(package MATCHES "\\.exe$")
      execute_process(COMMAND ${CPACK_TILVANE_SIGN_COMMAND} -DFILE=${package}
                              -P ${CMAKE_CURRENT_LIST_FILE}
                      RESULT_VARIABLE result)
      if(NOT result EQUAL 0)
        message(FATAL_ERROR "the installer ${package} was made but could not be signed "
                            "(why is above)")
      endif()
    endif()
  endforeach()
  return()
endif()

foreach(required OSSLSIGNCODE NAME URL CERT KEY FILE)
  if("${${required}}" STREQUAL "")
    message(FATAL_ERROR "sign.cmake needs -D${required}=...: give OSSLSIGNCODE, NAME, URL, CERT, "
                        "KEY and FILE (and TIMESTAMP_URL to time-stamp) before -P")
  endif()
endforeach()

set(timestamp)
if(TIMESTAMP_URL)
  set(timestamp -t ${TIMESTAMP_URL})
endif()
# osslsigncode writes a new file; the signed one replaces the original only
# once it is whole.
set(signed ${FILE}.signed)
file(REMOVE ${signed})
execute_process(COMMAND ${OSSLSIGNCODE} sign -certs ${CERT} -key ${KEY} -n ${NAME} -i ${URL}
                        -h sha256 ${timestamp} -in ${FILE} -out ${signed}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  file(REMOVE ${signed})
  message(FATAL_ERROR "could not sign ${FILE} with the certificate ${CERT} and the key ${KEY}: "
                      "check that both are PEM files of one key pair, the key unencrypted, and "
                      "that the time-stamp URL (if given) answers.\n${output}")
endif()
file(RENAME ${signed} ${FILE})
