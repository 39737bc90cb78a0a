# The Windows build's packages: `package` makes Tilvane-<version>-win64.zip
# holding exactly the plug-in, the README, the licence and the installation
# notes, and the plug-in in it is the one built; and the installer beside it,
# which installer.cmake runs.
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WIN_DIR} --target package
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
set(name Tilvane-${VERSION}-win64)
set(zip ${WIN_DIR}/${name}.zip)
set(setup ${WIN_DIR}/${name}-setup.exe)
if(NOT result EQUAL 0 OR NOT EXISTS ${zip} OR NOT EXISTS ${setup})
  message(FATAL_ERROR "the package target did not make ${zip} and ${setup}:\n${output}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${zip} OUTPUT_VARIABLE listing)
string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" entries "${listing}")
list(FILTER entries EXCLUDE REGEX "/$")  # directories
list(SORT entries)
set(expected ${name}/INSTALL.txt ${name}/LICENSE ${name}/README.md ${name}/Tilvane.aex)
if(NOT entries STREQUAL expected)
  message(FATAL_ERROR "${zip} holds\n  ${entries}\nnot\n  ${expected}")
endif()

set(unpacked ${CMAKE_CURRENT_BINARY_DIR}/unpacked-package)
file(REMOVE_RECURSE ${unpacked})
file(MAKE_DIRECTORY ${unpacked})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${zip} WORKING_DIRECTORY ${unpacked})
file(SHA256 ${unpacked}/${name}/Tilvane.aex packed)
file(SHA256 ${WIN_DIR}/Tilvane.aex built)
file(READ ${unpacked}/${name}/INSTALL.txt notes)
if(NOT packed STREQUAL built)
  message(FATAL_ERROR "the Tilvane.aex in ${zip} is not the one in ${WIN_DIR}")
endif()
if(NOT notes MATCHES "Plug-ins" OR NOT notes MATCHES "Tilvane - v${VERSION}"
   OR NOT notes MATCHES "${name}-setup.exe /S")
  message(FATAL_ERROR "INSTALL.txt names no plug-in folder, not this version or not the "
                      "silent install:\n${notes}")
endif()
message(STATUS "${zip}: ${entries}")
