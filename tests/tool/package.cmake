# The Debian package as a user installs it: made by cpack from the build
# BUILD in WORK, unpacked into a throwaway root, the tool run from there
# (it must find the packaged plug-in), the manual page rendered by man,
# the bash completion sourced and asked to complete, lintian's findings
# held to the ones the README explains, and, with dpkg, installed into and
# removed from a root of its own without touching the machine's database.
# cmake -DBUILD=... -DWORK=... -DVERSION=... [-DLINTIAN=...] [-DDPKG=...] -P package.cmake
cmake_minimum_required(VERSION 3.25)
function(run)
  cmake_parse_arguments(RUN "" "OUTPUT;STATUS" "COMMAND" ${ARGN})
  execute_process(COMMAND ${RUN_COMMAND} RESULT_VARIABLE status OUTPUT_VARIABLE out
                  ERROR_VARIABLE out)
  if(RUN_STATUS)
    set(${RUN_STATUS} ${status} PARENT_SCOPE)
  elseif(NOT status EQUAL 0)
    message(FATAL_ERROR "'${RUN_COMMAND}' failed (${status}):\n${out}")
  endif()
  if(RUN_OUTPUT)
    set(${RUN_OUTPUT} "${out}" PARENT_SCOPE)
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
run(COMMAND ${CMAKE_CPACK_COMMAND} -G DEB -B ${WORK} --config ${BUILD}/CPackConfig.cmake)
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE arch
                OUTPUT_STRIP_TRAILING_WHITESPACE)
set(deb ${WORK}/tilvane_${VERSION}_${arch}.deb)
if(NOT EXISTS ${deb})
  file(GLOB made ${WORK}/*.deb)
  message(FATAL_ERROR "cpack did not write ${deb}: ${made}")
endif()

# Dependencies from dpkg-shlibdeps: the C library and the image libraries
# the tool links, with versions.
run(COMMAND dpkg-deb -f ${deb} Depends OUTPUT depends)
if(NOT depends MATCHES "libc6 \\(>= " OR NOT depends MATCHES "libopenimageio")
  message(FATAL_ERROR "Depends is not dpkg-shlibdeps': ${depends}")
endif()

# The packaged bash completion loads only through bash-completion.
run(COMMAND dpkg-deb -f ${deb} Recommends OUTPUT recommends)
if(NOT recommends MATCHES "bash-completion")
  message(FATAL_ERROR "Recommends lacks bash-completion: ${recommends}")
endif()

set(root ${WORK}/root)
run(COMMAND dpkg-deb -x ${deb} ${root})
foreach(file usr/bin/tilvane usr/lib/tilvane/Tilvane.so usr/share/doc/tilvane/README.md
        usr/share/doc/tilvane/copyright usr/share/man/man1/tilvane.1.gz
        usr/share/bash-completion/completions/tilvane usr/share/zsh/vendor-completions/_tilvane)
  if(NOT EXISTS ${root}/${file})
    run(COMMAND dpkg-deb -c ${deb} OUTPUT contents)
    message(FATAL_ERROR "${file} is not in the package:\n${contents}")
  endif()
endforeach()

run(COMMAND ${root}/usr/bin/tilvane info OUTPUT info)
if(NOT info MATCHES "Plug-in: +${root}/usr/lib/tilvane/Tilvane.so\n")
  message(FATAL_ERROR "the packaged tilvane does not load the packaged plug-in:\n${info}")
endif()

# The page speaks of warnings itself: groff's own come on standard error.
execute_process(COMMAND ${CMAKE_COMMAND} -E env MANPAGER=cat PAGER=cat MANWIDTH=80
                        man -l --warnings ${root}/usr/share/man/man1/tilvane.1.gz
                RESULT_VARIABLE status OUTPUT_VARIABLE page ERROR_VARIABLE warnings)
if(NOT status EQUAL 0 OR NOT page MATCHES "tilvane +- +renders the Tilvane"
   OR NOT page MATCHES "EXIT STATUS" OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "man does not render the page cleanly (${status}):\n${warnings}\n${page}")
endif()

# One command a line: a semicolon would split the argument as a CMake list.
run(COMMAND bash -c "source '${root}/usr/share/bash-completion/completions/tilvane'
                     COMP_WORDS=(tilvane render --ic)
                     COMP_CWORD=2
                     _tilvane
                     echo \"\${COMPREPLY[*]}\"" OUTPUT completed)
if(NOT completed STREQUAL "--icon --icon-rate\n")
  message(FATAL_ERROR "bash completes 'tilvane render --ic' as '${completed}'")
endif()

# Each tag lintian may still report is explained in the README.
set(explained maintscript-calls-ldconfig)
if(LINTIAN)
  run(COMMAND ${LINTIAN} --tag-display-limit 0 ${deb} STATUS status OUTPUT findings)
  string(REGEX MATCHALL "(^|\n)[EW]: tilvane[^:]*: [a-z0-9-]+" tags "${findings}")
  foreach(tag ${tags})
    string(REGEX REPLACE ".*: " "" tag "${tag}")
    if(NOT tag IN_LIST explained)
      message(FATAL_ERROR "lintian reports ${tag}, which the README does not explain:\n"
                          "${findings}")
    endif()
  endforeach()
endif()

# Installed and removed by dpkg in a root of its own: its database starts
# empty, so the dependencies cannot be met there and are not asked for. The
# root has no shell to run the ldconfig call of the maintainer scripts in,
# so they run outside it, against a stand-in ldconfig: the machine's cache
# is not the throwaway root's.
if(DPKG)
  set(target ${WORK}/installed)
  file(MAKE_DIRECTORY ${target}/var/lib/dpkg/info ${target}/var/lib/dpkg/updates
       ${target}/var/lib/dpkg/triggers ${WORK}/stand-in)
  file(TOUCH ${target}/var/lib/dpkg/status ${target}/var/lib/dpkg/available)
  file(WRITE ${WORK}/stand-in/ldconfig "#!/bin/sh\nexit 0\n")
  file(CHMOD ${WORK}/stand-in/ldconfig PERMISSIONS OWNER_READ OWNER_EXECUTE)
  set(dpkg ${CMAKE_COMMAND} -E env "PATH=${WORK}/stand-in:$ENV{PATH}" ${DPKG} --root=${target}
      --log=/dev/null --force-not-root --force-depends --force-script-chrootless)
  run(COMMAND ${dpkg} -i ${deb})
  run(COMMAND ${target}/usr/bin/tilvane info OUTPUT info)
  if(NOT info MATCHES "Plug-in: +${target}/usr/lib/tilvane/Tilvane.so\n")
    message(FATAL_ERROR "the installed tilvane does not load the installed plug-in:\n${info}")
  endif()
  run(COMMAND ${dpkg} -r tilvane)
  file(GLOB_RECURSE left LIST_DIRECTORIES false ${target}/usr/*)
  if(left)
    message(FATAL_ERROR "dpkg -r left files behind: ${left}")
  endif()
endif()
