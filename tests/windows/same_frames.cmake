# Runs the check program natively on the Linux plug-in and under wine on the
# Windows one, and requires the same reference-frame digests from both: the
# effect's arithmetic must not depend on the compiler or the system.
execute_process(COMMAND ${NATIVE_CHECK} ${NATIVE_PLUGIN}
                OUTPUT_VARIABLE native RESULT_VARIABLE native_result)
execute_process(COMMAND ${WINE} ${WINDOWS_CHECK} ${WINDOWS_PLUGIN}
                OUTPUT_VARIABLE windows RESULT_VARIABLE windows_result)
string(REGEX MATCHALL "digest [0-9]+-bit: [0-9a-f]+" native_digests "${native}")
string(REGEX MATCHALL "digest [0-9]+-bit: [0-9a-f]+" windows_digests "${windows}")
list(LENGTH native_digests count)
if(NOT native_result EQUAL 0 OR NOT windows_result EQUAL 0 OR NOT count EQUAL 2)
  message(FATAL_ERROR "a check failed:\nLinux:\n${native}\nWindows:\n${windows}")
endif()
if(NOT native_digests STREQUAL windows_digests)
  message(FATAL_ERROR "the frames differ:\nLinux: ${native_digests}\nWindows: ${windows_digests}")
endif()
message(STATUS "same frames: ${native_digests}")
