cmake_minimum_required(VERSION 3.20)
# Run after a test program is built (cmake -P): lists its tests and writes a CTest file
# with one entry per test suite, NAME.Suite, run through tools/ctest_skip.sh so that a
# suite whose tests skipped (shared data absent) is reported as skipped, not passed. A
# suite's tests share one process, so a fixture that runs an example once serves the
# whole suite.
#   -D EXE=program -D NAME=prefix -D OUT=file.cmake -D WRAPPER=ctest_skip.sh
#   -D SLOW="Suite;Suite" (label "slow") -D LOCK=resource (serialises the entries)
execute_process(COMMAND "${EXE}" --gtest_list_tests OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${EXE} --gtest_list_tests failed")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(text "# Written by cmake/gtest_suites.cmake from ${EXE}\n")
foreach(line IN LISTS lines)
  if(line MATCHES "^([A-Za-z0-9_/]+)\\.")
    set(suite "${CMAKE_MATCH_1}")
    string(APPEND text "add_test([=[${NAME}.${suite}]=] bash [=[${WRAPPER}]=] [=[${EXE}]=] --gtest_brief=1 [=[--gtest_filter=${suite}.*]=])\n")
    set(labels "${NAME}")
    if(suite IN_LIST SLOW)
      list(APPEND labels slow)
    endif()
    string(APPEND text "set_tests_properties([=[${NAME}.${suite}]=] PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 1200 LABELS \"${labels}\"")
    if(LOCK)
      string(APPEND text " RESOURCE_LOCK ${LOCK}")
    endif()
    string(APPEND text ")\n")
  endif()
endforeach()
file(WRITE "${OUT}" "${text}")
