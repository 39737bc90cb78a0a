# The Windows installer, run under wine the way a render farm runs it, in a
# fresh wine prefix: a silent install puts the built Tilvane.aex, byte for
# byte, in the shared plug-in folder and registers the uninstaller; the check
# program loads the installed plug-in and renders the reference frames the
# built one renders; a reinstall with /D moves the plug-in; a host's recorded
# shared folder is followed; a silent uninstall takes everything out again
# but the shared folders.
# SETUP names another copy of the installer (a signed one) to run instead.
set(setup ${WIN_DIR}/Tilvane-${VERSION}-win64-setup.exe)
if(SETUP)
  set(setup ${SETUP})
endif()
if(NOT EXISTS ${setup})
  message(FATAL_ERROR "the package target made no ${setup}")
endif()

set(prefix ${WORK_DIR}/installer-wineprefix)
file(REMOVE_RECURSE ${prefix})
file(MAKE_DIRECTORY ${prefix})
set(c ${prefix}/drive_c)
set(shared "${c}/Program Files/Adobe/Common/Plug-ins/7.0/MediaCore")
set(docs "${c}/Program Files/Brenholt/Tilvane")
set(key "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Brenholt Tilvane")
file(SHA256 ${WIN_DIR}/Tilvane.aex built)

# Runs a Windows program in the prefix and waits for every process it
# started (the uninstaller runs from a copy of itself).
function(run_in_prefix out)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${prefix} ${WINE} ${ARGN}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${prefix} ${WINESERVER} -w)
  set(${out}_result ${result} PARENT_SCOPE)
  set(${out} "${output}" PARENT_SCOPE)
endfunction()

function(expect_installed folder what)
  if(NOT EXISTS "${folder}/Tilvane.aex")
    message(FATAL_ERROR "${what}: no Tilvane.aex in ${folder}")
  endif()
  file(SHA256 "${folder}/Tilvane.aex" installed)
  if(NOT installed STREQUAL built)
    message(FATAL_ERROR "${what}: the installed Tilvane.aex is not the built one")
  endif()
  foreach(file README.md LICENSE Uninstall.exe)
    if(NOT EXISTS "${docs}/${file}")
      message(FATAL_ERROR "${what}: no ${file} in ${docs}")
    endif()
  endforeach()
endfunction()

function(expect_key what)
  run_in_prefix(listing reg query "${key}")
  foreach(value "DisplayName +REG_SZ +Tilvane ${VERSION}" "DisplayVersion +REG_SZ +${VERSION}"
                "Publisher +REG_SZ +Brenholt" "EstimatedSize +REG_DWORD +0x[0-9a-f]+"
                "UninstallString +REG_SZ +\"C:\\\\Program Files\\\\Brenholt\\\\Tilvane\\\\Uninstall.exe\"")
    if(NOT listing MATCHES "${value}")
      message(FATAL_ERROR "${what}: the uninstall key lacks '${value}':\n${listing}")
    endif()
  endforeach()
endfunction()

function(uninstall_and_expect_nothing_left folder what)
  run_in_prefix(ignored "C:\\Program Files\\Brenholt\\Tilvane\\Uninstall.exe" /S)
  foreach(gone "${folder}" "${docs}" "${c}/Program Files/Brenholt")
    if(EXISTS "${gone}")
      message(FATAL_ERROR "${what}: the silent uninstall left ${gone}")
    endif()
  endforeach()
  run_in_prefix(listing reg query "${key}")
  if(listing_result EQUAL 0)
    message(FATAL_ERROR "${what}: the silent uninstall left the key:\n${listing}")
  endif()
endfunction()

function(digests out)
  run_in_prefix(output ${WINDOWS_CHECK} ${ARGN})
  string(REGEX MATCHALL "digest [a-z ]*[0-9]+-bit: [0-9a-f]+" found "${output}")
  if(NOT output_result EQUAL 0 OR NOT output MATCHES "[1-9][0-9]* passed, 0 failed")
    message(FATAL_ERROR "the check program failed on ${ARGN}:\n${output}")
  endif()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# A silent install into the shared folder.
run_in_prefix(output ${setup} /S)
if(NOT output_result EQUAL 0)
  message(FATAL_ERROR "the silent install failed (${output_result}):\n${output}")
endif()
expect_installed("${shared}/Brenholt" "silent install")
expect_key("silent install")

# The host's way in: the installed plug-in loads and renders as the built one.
digests(from_build ${WIN_DIR}/Tilvane.aex)
digests(installed "C:\\Program Files\\Adobe\\Common\\Plug-ins\\7.0\\MediaCore\\Brenholt\\Tilvane.aex")
list(LENGTH installed count)
if(NOT count EQUAL 4 OR NOT installed STREQUAL from_build)
  message(FATAL_ERROR "the installed plug-in renders\n  ${installed}\nthe built one\n  ${from_build}")
endif()

# Reinstalling into another folder moves the plug-in; the vendor's folder in
# the shared one goes with it, the shared folder stays.
run_in_prefix(output ${setup} /S /D=C:\\FarmPlugins\\Brenholt)
expect_installed("${c}/FarmPlugins/Brenholt" "reinstall with /D")
if(EXISTS "${shared}/Brenholt" OR NOT EXISTS "${shared}")
  message(FATAL_ERROR "reinstall with /D: the earlier plug-in folder was not cleared, or the "
                      "shared folder went with it")
endif()
expect_key("reinstall with /D")
uninstall_and_expect_nothing_left("${c}/FarmPlugins/Brenholt" "after the reinstall")
if(NOT EXISTS "${shared}")
  message(FATAL_ERROR "the uninstall removed the shared folder ${shared}")
endif()

# A host that records its shared folder elsewhere is followed (it writes the
# path with a trailing backslash; last, since CMake reads "\;" as a character).
run_in_prefix(ignored reg add "HKLM\\SOFTWARE\\Adobe\\After Effects\\24.0"
              /v CommonPluginInstallPath /f /d "C:\\Adobe\\MediaCore\\")
run_in_prefix(output ${setup} /S)
expect_installed("${c}/Adobe/MediaCore/Brenholt" "install beside a host")
uninstall_and_expect_nothing_left("${c}/Adobe/MediaCore/Brenholt" "uninstall beside a host")

file(REMOVE_RECURSE ${prefix})
message(STATUS "installed, loaded (${installed}), moved and uninstalled under wine")
