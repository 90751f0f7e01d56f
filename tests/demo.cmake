# The driver's tests open a real window and run the real program: under Xvfb.
sprox_add_test(demo_test SOURCES demo_test.cpp alloc_probe.cpp LIBS demo XVFB)
target_compile_definitions(demo_test PRIVATE SPROX_EXE="$<TARGET_FILE:sprox>")
add_dependencies(demo_test sprox)
# The built image's files and the facts kept outside C++ (no window needed).
sprox_add_test(showdata_test SOURCES showdata_test.cpp LIBS timeline corefile core)
if(TARGET sprox_data)
  add_dependencies(showdata_test sprox_data)
endif()
# The real show's ending on the real clock: the built program and data, keys from xdotool.
sprox_add_test(demo_ending_test SOURCES demo_ending_test.cpp LIBS timeline corefile core XVFB)
target_compile_definitions(demo_ending_test PRIVATE SPROX_EXE="$<TARGET_FILE:sprox>")
add_dependencies(demo_ending_test sprox)
if(TARGET sprox_data)
  add_dependencies(demo_ending_test sprox_data)
endif()
