# `cmake --install` into a fresh prefix: the installed tilvane must load the
# installed plug-in (not the one in the build tree), and the licence and
# README go with them.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${output}")
endif()
execute_process(COMMAND ${PREFIX}/bin/tilvane info
                RESULT_VARIABLE result OUTPUT_VARIABLE info ERROR_VARIABLE info)
if(NOT result EQUAL 0 OR NOT info MATCHES "Plug-in: +${PREFIX}/[^\n]*/tilvane/Tilvane.so\n")
  message(FATAL_ERROR "the installed tilvane does not use the installed plug-in:\n${info}")
endif()
file(GLOB_RECURSE licence ${PREFIX}/share/doc/*/LICENSE)
file(GLOB_RECURSE readme ${PREFIX}/share/doc/*/README.md)
if(NOT licence OR NOT readme)
  message(FATAL_ERROR "LICENSE or README.md not installed:\n${output}")
endif()
