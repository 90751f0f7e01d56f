sprox_add_test(core_test SOURCES core_test.cpp LIBS core)

# Every program's command line through the one option reader, run for real.
sprox_add_test(core_options_test SOURCES core_options_test.cpp LIBS core)
foreach(program sprox sprox-capture corepack musicgen imagegen shaderpack)
  if(TARGET ${program})
    string(MAKE_C_IDENTIFIER ${program} id)
    string(TOUPPER ${id} id)
    target_compile_definitions(core_options_test PRIVATE SPROX_PROGRAM_${id}="$<TARGET_FILE:${program}>")
    add_dependencies(core_options_test ${program})
  endif()
endforeach()
