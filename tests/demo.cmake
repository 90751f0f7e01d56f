# The driver's tests open a real window and run the real program: under Xvfb.
sprox_add_test(demo_test SOURCES demo_test.cpp alloc_probe.cpp LIBS demo XVFB)
target_compile_definitions(demo_test PRIVATE SPROX_EXE="$<TARGET_FILE:sprox>")
add_dependencies(demo_test sprox)
