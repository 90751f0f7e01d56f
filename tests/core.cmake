sprox_add_test(core_test SOURCES core_test.cpp core_path_test.cpp LIBS core)

# Every program's command line through the one option reader, run for real.
sprox_add_test(core_options_test SOURCES core_options_test.cpp LIBS core)
# The built ones, as NAME=PATH, separated by "|".
set(built_programs "")
foreach(program sprox sprox-capture corepack musicgen imagegen shaderpack)
  if(TARGET ${program})
    string(APPEND built_programs "|${program}=$<TARGET_FILE:${program}>")
    add_dependencies(core_options_test ${program})
  endif()
endforeach()
target_compile_definitions(core_options_test PRIVATE SPROX_BUILT_PROGRAMS="${built_programs}")
