# Signs copies of the built Tilvane.aex and installer with a throwaway
# self-signed code-signing certificate, by the command the build signs with:
# the plug-in as the build signs it after linking, the installer as CPack's
# post-build step does (which must leave the zip alone). Then checks what
# osslsigncode reads back: each copy unsigned before, signed after by that
# certificate with the project's name and address and no time-stamp (none was
# asked), and a signed file changed after signing refused. A time-stamp
# authority that does not answer fails the signing and leaves the file as it
# was. The signed plug-in is left in SIGNED_DIR for the wine tests.
set(name Tilvane-${VERSION}-win64)
foreach(package ${name}-setup.exe ${name}.zip)
  if(NOT EXISTS ${WIN_DIR}/${package})
    message(FATAL_ERROR "the package target made no ${WIN_DIR}/${package}")
  endif()
endforeach()
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
set(sign ${SIGN_COMMAND} -DCERT=${cert} -DKEY=${key})

function(verify file out)
  execute_process(COMMAND ${OSSLSIGNCODE} verify -CAfile ${cert} -in ${file}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  set(${out}_result ${result} PARENT_SCOPE)
  set(${out} "${output}" PARENT_SCOPE)
endfunction()

# An unsigned copy of a built file (a build configured with a certificate
# gives its file back unsigned).
function(unsigned_copy file)
  set(copy ${SIGNED_DIR}/${file})
  file(COPY_FILE ${WIN_DIR}/${file} ${copy})
  verify(${copy} unsigned)
  if(NOT unsigned MATCHES "No signature found")
    execute_process(COMMAND ${OSSLSIGNCODE} remove-signature -in ${WIN_DIR}/${file}
                            -out ${copy}.unsigned OUTPUT_QUIET ERROR_QUIET)
    file(RENAME ${copy}.unsigned ${copy})
    verify(${copy} unsigned)
  endif()
  if(unsigned_result EQUAL 0 OR NOT unsigned MATCHES "No signature found")
    message(FATAL_ERROR "${file} reads as signed before signing:\n${unsigned}")
  endif()
endfunction()

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed:\n${output}")
  endif()
endfunction()

unsigned_copy(Tilvane.aex)
unsigned_copy(${name}-setup.exe)
file(COPY_FILE ${WIN_DIR}/${name}.zip ${SIGNED_DIR}/${name}.zip)
file(SHA256 ${SIGNED_DIR}/${name}.zip zip_before)

file(SHA256 ${SIGNED_DIR}/Tilvane.aex aex_before)
execute_process(COMMAND ${sign} -DTIMESTAMP_URL=http://127.0.0.1:9/
                        -DFILE=${SIGNED_DIR}/Tilvane.aex -P ${SIGN_SCRIPT}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(SHA256 ${SIGNED_DIR}/Tilvane.aex aex_after)
string(REGEX REPLACE "[ \n]+" " " said "${output}")
string(FIND "${said}" "could not sign ${SIGNED_DIR}/Tilvane.aex" named)
if(result EQUAL 0 OR named EQUAL -1
   OR NOT aex_after STREQUAL aex_before OR EXISTS ${SIGNED_DIR}/Tilvane.aex.signed)
  message(FATAL_ERROR "a time-stamp authority that does not answer must fail the signing "
                      "and leave Tilvane.aex as it was:\n${output}")
endif()

run("signing Tilvane.aex" ${sign} -DFILE=${SIGNED_DIR}/Tilvane.aex -P ${SIGN_SCRIPT})
# Lists in one argument each, as CPack holds them: not through run(), which
# would split them.
execute_process(COMMAND ${CMAKE_COMMAND} "-DCPACK_TILVANE_SIGN_COMMAND=${sign}"
                  "-DCPACK_PACKAGE_FILES=${SIGNED_DIR}/${name}.zip;${SIGNED_DIR}/${name}-setup.exe"
                  -P ${SIGN_SCRIPT}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "CPack's signing of the packages failed:\n${output}")
endif()
file(SHA256 ${SIGNED_DIR}/${name}.zip zip_after)
if(NOT zip_after STREQUAL zip_before)
  message(FATAL_ERROR "CPack's signing changed the zip")
endif()

foreach(file Tilvane.aex ${name}-setup.exe)
  set(copy ${SIGNED_DIR}/${file})
  verify(${copy} signed)
  foreach(expected "Signature verification: ok" "Number of verified signatures: 1"
                   "Subject: /CN=Tilvane test\n" "Text description: ${NAME}\n"
                   "URL description: ${URL}\n" "Message digest algorithm  : SHA256\n"
                   "Timestamp is not available")
    if(NOT signed_result EQUAL 0 OR NOT signed MATCHES "${expected}")
      message(FATAL_ERROR "the signed ${file}: osslsigncode does not report '${expected}':\n"
                          "${signed}")
    endif()
  endforeach()
  if(EXISTS ${copy}.signed)
    message(FATAL_ERROR "signing ${file} left ${copy}.signed behind")
  endif()

  # One byte of the code changed after signing: the digest no longer matches.
  set(tampered ${SIGNED_DIR}/tampered-${file})
  file(COPY_FILE ${copy} ${tampered})
  file(READ ${tampered} byte OFFSET 4096 LIMIT 1 HEX)
  if(byte STREQUAL "58")
    file(WRITE ${SIGNED_DIR}/byte "Y")
  else()
    file(WRITE ${SIGNED_DIR}/byte "X")
  endif()
  run("changing ${file}" dd if=${SIGNED_DIR}/byte of=${tampered} bs=1 seek=4096 conv=notrunc)
  verify(${tampered} changed)
  if(changed_result EQUAL 0
     OR NOT changed MATCHES "Calculated message digest : [0-9A-F]+ +MISMATCH")
    message(FATAL_ERROR "${file} changed after signing still verifies:\n${changed}")
  endif()
  file(REMOVE ${tampered})
endforeach()
message(STATUS "signed and verified in ${SIGNED_DIR}: Tilvane.aex and the installer")
