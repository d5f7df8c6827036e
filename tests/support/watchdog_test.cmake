# The tests' main under a one-second case limit: the quick case passes, the
# hanging one is named as it runs past the limit, and the program fails at
# once rather than when ctest's limit for the whole suite runs out.
#   cmake -DPROBE=watchdog_probe [-DEMULATOR=...] -P watchdog_test.cmake
string(TIMESTAMP started "%s")
execute_process(COMMAND ${EMULATOR} ${PROBE} --rebound_case_timeout=1
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status TIMEOUT 25)
string(TIMESTAMP ended "%s")
math(EXPR seconds "${ended} - ${started}")
set(all "${out}${err}")
if(status EQUAL 0)
  message(FATAL_ERROR "the probe passed, though one case hangs:\n${all}")
endif()
if(NOT all MATCHES "\\[       OK \\] Watchdog\\.QuickCasePasses")
  message(FATAL_ERROR "the quick case did not pass:\n${all}")
endif()
if(NOT all MATCHES "\\[  TIMEOUT \\] Watchdog\\.HangingCaseIsNamed ran longer than 1 s")
  message(FATAL_ERROR "the hanging case was not named (status ${status}):\n${all}")
endif()
if(all MATCHES "the watchdog let the case run on")
  message(FATAL_ERROR "the hanging case ran to its end:\n${all}")
endif()
message(STATUS "stopped after ${seconds} s with status ${status}")
