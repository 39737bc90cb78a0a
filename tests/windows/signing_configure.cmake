# Configures the Windows build (configure only: the cross build is slow) with
# and without a certificate and reads the rules it generates: without one,
# nothing signs; with both files, Tilvane.aex is signed after it links and
# CPack signs the installer; a half-given, missing or relative setting, or no
# osslsigncode, stops the configure with a message naming it.
cmake_policy(VERSION 3.25)  # empty list elements are kept
set(dir ${WORK_DIR}/signing-configure)
file(REMOVE_RECURSE ${dir})
file(MAKE_DIRECTORY ${dir})
# The configure checks the files exist; what they hold matters only to osslsigncode.
set(cert ${dir}/cert.pem)
set(key ${dir}/key.pem)
file(TOUCH ${cert} ${key})
set(absent ${dir}/absent.pem)

# Configures ${dir}/build with the given environment settings (the others
# unset, whatever the caller's environment holds) and extra arguments, and
# the signing settings cached earlier cleared unless KEEP is given.
function(configure out)
  cmake_parse_arguments(PARSE_ARGV 1 arg "KEEP" "" "ENV;ARGS")
  set(reset -UTILVANE_SIGN_*)
  if(arg_KEEP)
    set(reset)
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=TILVANE_SIGN_CERT
                          --unset=TILVANE_SIGN_KEY --unset=TILVANE_SIGN_TIMESTAMP_URL ${arg_ENV}
                          ${CMAKE_COMMAND} -G "Unix Makefiles" -S ${SOURCE_DIR} -B ${dir}/build
                          ${reset}
                          -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
                          -DTILVANE_BUILD_BENCH=OFF ${arg_ARGS}
                  WORKING_DIRECTORY ${dir}  # where key.pem, given relative, exists
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  set(${out}_result ${result} PARENT_SCOPE)
  set(${out} "${output}" PARENT_SCOPE)
endfunction()

function(rules out)
  file(READ ${dir}/build/CMakeFiles/tilvane_plugin.dir/build.make plugin)
  file(READ ${dir}/build/CPackConfig.cmake cpack)
  set(${out} "${plugin}${cpack}" PARENT_SCOPE)
endfunction()

configure(unsigned)
rules(unsigned_rules)
if(NOT unsigned_result EQUAL 0 OR unsigned_rules MATCHES "sign\\.cmake|osslsigncode")
  message(FATAL_ERROR "without a certificate the Windows build signs something, or fails:\n"
                      "${unsigned}")
endif()

# Each case: its environment (settings apart by commas), its extra argument,
# then what the message must name.
set(cases
  "TILVANE_SIGN_CERT=${cert}||TILVANE_SIGN_KEY is not"
  "TILVANE_SIGN_KEY=${key}||TILVANE_SIGN_CERT is not"
  "TILVANE_SIGN_CERT=${absent},TILVANE_SIGN_KEY=${key}||TILVANE_SIGN_CERT is '${absent}'"
  "TILVANE_SIGN_CERT=${cert},TILVANE_SIGN_KEY=key.pem||TILVANE_SIGN_KEY is 'key.pem'"
  "TILVANE_SIGN_CERT=${cert},TILVANE_SIGN_KEY=${key}|-DTILVANE_OSSLSIGNCODE=${dir}/none|osslsigncode is not found")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 env)
  list(GET fields 1 args)
  list(GET fields 2 expected)
  string(REPLACE "," ";" env "${env}")
  configure(refused ENV ${env} ARGS ${args})
  string(REPLACE "\n" " " refused_line "${refused}")
  string(REGEX REPLACE " +" " " refused_line "${refused_line}")
  string(FIND "${refused_line}" "${expected}" at)
  if(refused_result EQUAL 0 OR at EQUAL -1)
    message(FATAL_ERROR "with ${env} ${args} the configure must fail naming '${expected}':\n"
                        "${refused}")
  endif()
endforeach()

# Given in the environment, kept by the cache for the configures after; and
# given as cache variables, the other way. The time-stamp URL travels too.
function(expect_signing what)
  rules(signed_rules)
  foreach(expected "-DCERT=${cert}" "-DKEY=${key}" "-DTIMESTAMP_URL=http://timestamp.invalid/"
                   "-DFILE=${dir}/build/Tilvane.aex" "win/sign.cmake"
                   "CPACK_POST_BUILD_SCRIPTS \"${SOURCE_DIR}/win/sign.cmake\"")
    string(FIND "${signed_rules}" "${expected}" at)
    if(NOT signed_result EQUAL 0 OR at EQUAL -1)
      message(FATAL_ERROR "${what}: the rules lack '${expected}':\n${signed}")
    endif()
  endforeach()
endfunction()
configure(signed ENV TILVANE_SIGN_CERT=${cert} TILVANE_SIGN_KEY=${key}
                     TILVANE_SIGN_TIMESTAMP_URL=http://timestamp.invalid/
                 ARGS -DTILVANE_OSSLSIGNCODE=${OSSLSIGNCODE})
expect_signing("given in the environment")
configure(signed KEEP)
expect_signing("configured again without the environment")
configure(signed ARGS -DTILVANE_SIGN_CERT=${cert} -DTILVANE_SIGN_KEY=${key}
                      -DTILVANE_SIGN_TIMESTAMP_URL=http://timestamp.invalid/)
expect_signing("given as cache variables")

# Both emptied: unsigned again.
configure(unsigned KEEP ARGS -DTILVANE_SIGN_CERT= -DTILVANE_SIGN_KEY=)
rules(unsigned_rules)
if(NOT unsigned_result EQUAL 0 OR unsigned_rules MATCHES "sign\\.cmake")
  message(FATAL_ERROR "with both settings emptied the build still signs:\n${unsigned}")
endif()
file(REMOVE_RECURSE ${dir})
