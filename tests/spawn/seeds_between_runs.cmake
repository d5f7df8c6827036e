# Runs the seed probe twice (under EMULATOR when given) and fails unless each
# run prints four seeds and the two runs print different ones.
#   cmake -DPROBE=random_seed_probe [-DEMULATOR=wine-run.sh] -P seeds_between_runs.cmake
if(NOT PROBE)
  message(FATAL_ERROR "seeds_between_runs: PROBE is not set")
endif()
set(runs)
foreach(run 1 2)
  execute_process(COMMAND ${EMULATOR} ${PROBE} OUTPUT_VARIABLE out RESULT_VARIABLE status
                  ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "seeds_between_runs: run ${run} of ${PROBE} failed (${status}): ${err}")
  endif()
  string(REPLACE "\r" "" out "${out}")
  string(REGEX MATCHALL "[0-9a-f]+" seeds "${out}")
  list(LENGTH seeds count)
  if(NOT count EQUAL 4)
    message(FATAL_ERROR "seeds_between_runs: run ${run} printed ${count} seeds, not 4: ${out}")
  endif()
  list(JOIN seeds " " seeds)
  message(STATUS "run ${run}: ${seeds}")
  list(APPEND runs "${seeds}")
endforeach()
list(GET runs 0 first)
list(GET runs 1 second)
if(first STREQUAL second)
  message(FATAL_ERROR "seeds_between_runs: two runs drew the same seeds (${first}): "
                      "the random device restarts from a fixed state")
endif()
