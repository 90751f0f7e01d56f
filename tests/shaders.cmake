# shaders_test: the strict check of every shader file in content/shaders/
# (glslangValidator, the uniform contract), their Mesa compile and link logs,
# and the transitions through the real pass. The GL cases need Xvfb.
sprox_add_test(shaders_test SOURCES shaders_test.cpp LIBS effects gfx timeline corefile XVFB)
