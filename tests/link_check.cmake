# sprox_add_link_check(NAME SOURCES files... ARCHIVES libs... [SYSTEM libs...])
# A small program linked with the named libraries' archive files, in the order
# given, and with the SYSTEM libraries; nothing else of the project comes along,
# and only the source tree is on its include path (no generated header). It is
# run as a test (unit, named after the module) from a scratch folder of its
# own: exit status 0 passes.
include_guard(GLOBAL)

function(sprox_add_link_check name)
  cmake_parse_arguments(ARG "" "" "SOURCES;ARCHIVES;SYSTEM" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  foreach(library ${ARG_ARCHIVES})
    target_link_libraries(${name} PRIVATE $<TARGET_FILE:${library}>)
    add_dependencies(${name} ${library})
  endforeach()
  target_link_libraries(${name} PRIVATE ${ARG_SYSTEM})
  set(workdir ${CMAKE_CURRENT_BINARY_DIR}/run/${name})
  file(MAKE_DIRECTORY ${workdir})
  sprox_register_test(${name} WORKDIR ${workdir} LABELS unit COMMAND ${name})
endfunction()
