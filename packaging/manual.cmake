# Writes the manual page (gzip -9n, as Debian ships pages) and the bash and
# zsh completions from the built tool: cmake -DTOOL=... -DMAN_PAGE=FILE.gz
# -DBASH=FILE -DZSH=FILE [-DENVIRONMENT=NAME=VALUE] -P manual.cmake
if(ENVIRONMENT MATCHES "^([^=]+)=(.*)$")
  set(ENV{${CMAKE_MATCH_1}} "${CMAKE_MATCH_2}")
endif()

function(write_from_tool file)
  execute_process(COMMAND ${TOOL} ${ARGN} OUTPUT_FILE ${file}.new ERROR_VARIABLE error
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    file(REMOVE ${file}.new)
    message(FATAL_ERROR "'${TOOL} ${ARGN}' failed (${result}): ${error}")
  endif()
  file(RENAME ${file}.new ${file})
endfunction()

string(REGEX REPLACE "\\.gz$" "" page ${MAN_PAGE})
write_from_tool(${page} --man)
execute_process(COMMAND gzip -9nf ${page} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip could not compress ${page}")
endif()
write_from_tool(${BASH} --completions bash)
write_from_tool(${ZSH} --completions zsh)
