# Run by ctest as a test include file: registers one test per GoogleTest suite
# of a test program, where one test per case would start a process for every
# case; under an emulator (Wine), one test for the whole program. The program is listed when it (or this
# script) is newer than the list made from it last time, so a second run lists
# nothing.
#
# Set by the including file:
#   suites_program    the test program
#   suites_target     its target name, which prefixes every test's name
#   suites_emulator   what runs it (the cross-compiling emulator), or empty
#   suites_filter     the GoogleTest filter of the cases to run ("*-A.B:C.*")
#   suites_timeout    seconds one case may take (the program's own watchdog)
#   suites_list       the file the registrations are kept in
#   suites_results    the folder each suite's JSON results go to
#   suites_workdir    the folder the tests run in
#
# Each suite's test passes --gtest_output=json:RESULTS/TARGET.SUITE.json, from
# which scripts/ctest-summary.py counts the cases; a failure names its case in
# the test's output, as GoogleTest prints it.

# This run's results, never an earlier run's.
file(GLOB stale_results "${suites_results}/${suites_target}.*.json")
if(stale_results)
  file(REMOVE ${stale_results})
endif()
file(MAKE_DIRECTORY "${suites_results}")

if(NOT EXISTS "${suites_program}")
  # The program was not built: one test that says so and fails.
  add_test("${suites_target}:NOT_BUILT" sh -c "echo 'not built: ${suites_program}' >&2; exit 1")
  return()
endif()

if(NOT EXISTS "${suites_list}" OR "${suites_program}" IS_NEWER_THAN "${suites_list}"
   OR "${CMAKE_CURRENT_LIST_FILE}" IS_NEWER_THAN "${suites_list}")
  execute_process(COMMAND ${suites_emulator} "${suites_program}" --gtest_list_tests
                          "--gtest_filter=${suites_filter}"
                  WORKING_DIRECTORY "${suites_workdir}"
                  OUTPUT_VARIABLE listing ERROR_VARIABLE listing_errors RESULT_VARIABLE status
                  TIMEOUT 180)
  if(NOT status EQUAL 0)
    string(REPLACE "\n" "\n    " listing_errors "${listing_errors}")
    message(WARNING "Could not list the tests of ${suites_program} (status ${status}):\n"
                    "    ${listing}${listing_errors}")
    # Not kept: listing is tried again on the next run.
    add_test("${suites_target}:NOT_LISTED" ${suites_emulator} "${suites_program}" --gtest_list_tests)
    return()
  endif()

  # "Suite." lines (a typed or parameterised suite's with a comment after
  # them), then its cases indented by two spaces.
  string(REPLACE ";" "\\;" listing "${listing}")
  string(REPLACE "\n" ";" lines "${listing}")
  set(suites)
  set(suite)
  foreach(line IN LISTS lines)
    if(line MATCHES "^([^ #][^ ]*)\\.( .*)?$")
      set(suite "${CMAKE_MATCH_1}")
      list(APPEND suites "${suite}")
      set(cases_${suite} 0)
    elseif(suite AND line MATCHES "^  [^ ]")
      math(EXPR cases_${suite} "${cases_${suite}} + 1")
    endif()
  endforeach()

  # The cases left out by the filter stay left out of every suite.
  set(excluded)
  if(suites_filter MATCHES "-(.*)$")
    set(excluded "-${CMAKE_MATCH_1}")
  endif()

  # Relative to the folder the tests run in: a Windows program under Wine
  # takes a path that starts with a slash for one on its current drive.
  file(RELATIVE_PATH results "${suites_workdir}" "${suites_results}")
  set(content "# Made from ${suites_program} --gtest_list_tests; made again when it is rebuilt.\n")
  if(suites_emulator)
    # Under the emulator (Wine) the whole program is one test: starting Wine
    # cost more than most suites' cases, and the suites ran in one process
    # as well as in several. Its results name every case, and a failure the
    # failing case.
    set(cases 0)
    foreach(suite IN LISTS suites)
      math(EXPR cases "${cases} + ${cases_${suite}}")
    endforeach()
    set(filter "${suites_filter}")
    if(filter STREQUAL "")
      set(filter "*")
    endif()
    if(cases GREATER 0)
      set(name "${suites_target}:all")
      math(EXPR limit "${suites_timeout} * ${cases} + 30")
      string(APPEND content
             "add_test([==[${name}]==] ${suites_emulator} [==[${suites_program}]==] "
             "[==[--gtest_filter=${filter}]==] "
             "[==[--gtest_output=json:${results}/${suites_target}.all.json]==] "
             "[==[--rebound_case_timeout=${suites_timeout}]==])\n"
             "set_tests_properties([==[${name}]==] PROPERTIES TIMEOUT ${limit} "
             "WORKING_DIRECTORY [==[${suites_workdir}]==])\n")
    endif()
    set(suites)
  endif()
  foreach(suite IN LISTS suites)
    if(cases_${suite} EQUAL 0)
      continue()
    endif()
    string(REPLACE "/" "_" result_name "${suite}")
    set(name "${suites_target}:${suite}")
    # The suite's limit is its cases' limits added up; each case keeps its own.
    math(EXPR limit "${suites_timeout} * ${cases_${suite}} + 30")
    string(APPEND content
           "add_test([==[${name}]==] ${suites_emulator} [==[${suites_program}]==] "
           "[==[--gtest_filter=${suite}.*${excluded}]==] "
           "[==[--gtest_output=json:${results}/${suites_target}.${result_name}.json]==] "
           "[==[--rebound_case_timeout=${suites_timeout}]==])\n"
           "set_tests_properties([==[${name}]==] PROPERTIES TIMEOUT ${limit} "
           "WORKING_DIRECTORY [==[${suites_workdir}]==])\n")
  endforeach()
  file(WRITE "${suites_list}" "${content}")
endif()

include("${suites_list}")
