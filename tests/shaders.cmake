# shaders_test: the pack step of the shaders (tools/shaderpack, the prelude,
# the palette) and the strict check of every packed shader in the build's
# sprox.dat (glslangValidator, the uniform contract), their Mesa compile and
# link logs, and the transitions through the real pass. The GL cases need Xvfb.
sprox_add_test(shaders_test SOURCES shaders_test.cpp LIBS effects gfx timeline corefile shaderhead XVFB)
target_compile_definitions(shaders_test PRIVATE SPROX_SHADERPACK="$<TARGET_FILE:shaderpack>")
add_dependencies(shaders_test shaderpack)
if(TARGET sprox_data)
  add_dependencies(shaders_test sprox_data)
endif()
