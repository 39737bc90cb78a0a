# Runs the check program natively on the Linux plug-in with the scalar walk on
# one thread, and under wine on the Windows one with every vector path and
# several thread counts, and requires the same reference-frame digests from
# all: the effect's arithmetic must depend neither on the compiler and the
# system nor on how the frame is computed. The check program must report the
# path asked for, or the CPU's best where it lacks that one, and the threads.
execute_process(COMMAND ${CMAKE_COMMAND} -E env TILVANE_SIMD=scalar TILVANE_THREADS=1
                        ${NATIVE_CHECK} ${NATIVE_PLUGIN}
                OUTPUT_VARIABLE native RESULT_VARIABLE native_result)
string(REGEX MATCHALL "digest [a-z ]*[0-9]+-bit: [0-9a-f]+" native_digests "${native}")
list(LENGTH native_digests count)
if(NOT native_result EQUAL 0 OR NOT count EQUAL 4)
  message(FATAL_ERROR "the Linux check failed:\n${native}")
endif()
foreach(simd scalar sse2 avx2 avx512)
  foreach(threads 1 3)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env TILVANE_SIMD=${simd} TILVANE_THREADS=${threads}
                            ${WINE} ${WINDOWS_CHECK} ${WINDOWS_PLUGIN}
                    OUTPUT_VARIABLE windows RESULT_VARIABLE windows_result)
    string(REGEX MATCHALL "digest [a-z ]*[0-9]+-bit: [0-9a-f]+" windows_digests "${windows}")
    if(NOT windows_result EQUAL 0)
      message(FATAL_ERROR "the Windows check failed (${simd}, ${threads} threads):\n${windows}")
    endif()
    string(REGEX MATCH "render path: ([a-z0-9]+) \\(this CPU offers ([a-z0-9]+)\\), ([0-9]+) thread"
           reported "${windows}")
    set(taken ${CMAKE_MATCH_1})
    set(best ${CMAKE_MATCH_2})
    set(reported_threads ${CMAKE_MATCH_3})
    set(paths scalar sse2 avx2 avx512)
    list(FIND paths ${simd} asked_rank)
    list(FIND paths "${best}" best_rank)
    set(expected ${simd})
    if(asked_rank GREATER best_rank)
      set(expected ${best})
    endif()
    if(NOT reported OR NOT taken STREQUAL expected OR NOT reported_threads EQUAL threads)
      message(FATAL_ERROR "asked for ${simd} on ${threads} threads, the check reports "
                          "'${reported}', not ${expected}:\n${windows}")
    endif()
    if(NOT native_digests STREQUAL windows_digests)
      message(FATAL_ERROR "the frames differ (${simd}, ${threads} threads):\n"
                          "Linux: ${native_digests}\nWindows: ${windows_digests}")
    endif()
  endforeach()
endforeach()
message(STATUS "same frames on every path: ${native_digests}")
