# Signs copies of the built Tilvane.aex and installer with a throwaway
# self-signed code-signing certificate, by the command the build signs with,
# and checks what osslsigncode reads back: each copy unsigned before, signed
# after by that certificate with the project's name and address and no
# time-stamp (none was asked), and a signed file changed after signing
# refused. The signed plug-in is left in SIGNED_DIR for the wine tests.
set(setup ${WIN_DIR}/Tilvane-${VERSION}-win64-setup.exe)
if(NOT EXISTS ${setup})
  message(FATAL_ERROR "the package target made no ${setup}")
endif()
file(REMOVE_RECURSE ${SIGNED_DIR})
file(MAKE_DIRECTORY ${SIGNED_DIR})
set(cert ${SIGNED_DIR}/cert.pem)
set(key ${SIGNED_DIR}/key.pem)
execute_process(COMMAND ${OPENSSL} req -x509 -newkey rsa:2048 -nodes -days 1
                        -subj "/CN=Tilvane test" -addext extendedKeyUsage=codeSigning
                        -keyout ${key} -out ${cert}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "openssl made no certificate:\n${output}")
endif()

function(verify file out)
  execute_process(COMMAND ${OSSLSIGNCODE} verify -CAfile ${cert} -in ${file}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  set(${out}_result ${result} PARENT_SCOPE)
  set(${out} "${output}" PARENT_SCOPE)
endfunction()

foreach(built ${WIN_DIR}/Tilvane.aex ${setup})
  get_filename_component(name ${built} NAME)
  set(copy ${SIGNED_DIR}/${name})
  file(COPY_FILE ${built} ${copy})
  verify(${copy} unsigned)
  if(NOT unsigned MATCHES "No signature found")
    # A build configured with a certificate: start from its unsigned file.
    execute_process(COMMAND ${OSSLSIGNCODE} remove-signature -in ${built} -out ${copy}.unsigned
                    OUTPUT_QUIET ERROR_QUIET)
    file(RENAME ${copy}.unsigned ${copy})
    verify(${copy} unsigned)
  endif()
  if(unsigned_result EQUAL 0 OR NOT unsigned MATCHES "No signature found")
    message(FATAL_ERROR "${name} reads as signed before signing:\n${unsigned}")
  endif()

  execute_process(COMMAND ${SIGN_COMMAND} -DCERT=${cert} -DKEY=${key} -DFILE=${copy}
                          -P ${SIGN_SCRIPT}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "signing ${name} failed:\n${output}")
  endif()
  verify(${copy} signed)
  foreach(expected "Signature verification: ok" "Number of verified signatures: 1"
                   "Subject: /CN=Tilvane test" "Text description: ${NAME}"
                   "URL description: ${URL}" "Message digest algorithm  : SHA256"
                   "Timestamp is not available")
    if(NOT signed_result EQUAL 0 OR NOT signed MATCHES "${expected}")
      message(FATAL_ERROR "the signed ${name}: osslsigncode does not report '${expected}':\n"
                          "${signed}")
    endif()
  endforeach()
  if(EXISTS ${copy}.signed)
    message(FATAL_ERROR "signing ${name} left ${copy}.signed behind")
  endif()

  # One byte of the code changed after signing: the digest no longer matches.
  set(tampered ${SIGNED_DIR}/tampered-${name})
  file(COPY_FILE ${copy} ${tampered})
  file(READ ${tampered} byte OFFSET 4096 LIMIT 1 HEX)
  if(byte STREQUAL "58")
    file(WRITE ${SIGNED_DIR}/byte "Y")
  else()
    file(WRITE ${SIGNED_DIR}/byte "X")
  endif()
  execute_process(COMMAND dd if=${SIGNED_DIR}/byte of=${tampered} bs=1 seek=4096 conv=notrunc
                  RESULT_VARIABLE result ERROR_QUIET)
  verify(${tampered} changed)
  if(NOT result EQUAL 0 OR changed_result EQUAL 0 OR NOT changed MATCHES "MISMATCH")
    message(FATAL_ERROR "${name} changed after signing still verifies:\n${changed}")
  endif()
  file(REMOVE ${tampered})
endforeach()
message(STATUS "signed and verified in ${SIGNED_DIR}: Tilvane.aex and the installer")
