# cmake -DEXE=program -DFILTERS="filter|filter|..." -P split_check.cmake
# A GoogleTest executable of several test files is registered once per file,
# each with a filter on that file's suites (tests/CMakeLists.txt). Together
# the filters must select every test the executable holds, and each one
# once: a test written where the suites are not read (a helper header, a
# source not named *_test.cpp) would otherwise never run.
#
# Threads: the main thread only (a CTest run).
cmake_minimum_required(VERSION 3.18)

# list_tests(OUT [FILTER]): the "Suite.test" names the executable lists.
function(list_tests out)
  execute_process(COMMAND ${EXE} --gtest_list_tests ${ARGN}
                  OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "split check: ${EXE} --gtest_list_tests ${ARGN} ended with ${status}")
  endif()
  # A suite's line ("Suite." with an optional comment), then its tests, indented.
  string(REPLACE "\n" ";" lines "${text}")
  set(suite "")
  set(tests "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^([^ ]+)\\.")
      set(suite ${CMAKE_MATCH_1})
    elseif(line MATCHES "^  ([^ ]+)")
      list(APPEND tests "${suite}.${CMAKE_MATCH_1}")
    endif()
  endforeach()
  set(${out} "${tests}" PARENT_SCOPE)
endfunction()

list_tests(all)
string(REPLACE "|" ";" filters "${FILTERS}")
set(selected "")
set(problems "")
foreach(filter IN LISTS filters)
  list_tests(part --gtest_filter=${filter})
  foreach(test IN LISTS part)
    if(test IN_LIST selected)
      string(APPEND problems "\n  ${test}: selected by two files' filters")
    endif()
    list(APPEND selected ${test})
  endforeach()
endforeach()
foreach(test IN LISTS all)
  if(NOT test IN_LIST selected)
    string(APPEND problems "\n  ${test}: in no file's filter, so it never runs")
  endif()
endforeach()
list(LENGTH all count)
if(problems OR count EQUAL 0)
  message(FATAL_ERROR "split check of ${EXE} (${count} tests):${problems}")
endif()
message(STATUS "split check of ${EXE}: each of its ${count} tests runs once")
