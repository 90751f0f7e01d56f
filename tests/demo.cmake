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
sprox_add_test(demo_ending_test SOURCES demo_ending_test.cpp LIBS timeline corefile core XVFB LABELS gl slow)
target_compile_definitions(demo_ending_test PRIVATE SPROX_EXE="$<TARGET_FILE:sprox>")
add_dependencies(demo_ending_test sprox)
if(TARGET sprox_data)
  add_dependencies(demo_ending_test sprox_data)
endif()
# The player's command line, letterbox and data lookup (no window); the
# built program on a short show, each run under an X server of its own.
sprox_add_test(player_test SOURCES player_test.cpp LIBS demo)
target_compile_definitions(player_test PRIVATE SPROX_EXE="$<TARGET_FILE:sprox>")
add_dependencies(player_test sprox)
if(TARGET sprox_data)
  add_dependencies(player_test sprox_data)
endif()
# The player on a 1920x1080 X screen of its own: full screen, letterbox, F11, resize.
sprox_add_test(player_screen_test SOURCES player_screen_test.cpp LIBS core Sprox::LodePNG LABELS gl)
target_compile_definitions(player_screen_test PRIVATE SPROX_EXE="$<TARGET_FILE:sprox>")
add_dependencies(player_screen_test sprox)
if(TARGET sprox-capture)  # --still is compared with the capture's frame
  target_compile_definitions(player_screen_test PRIVATE SPROX_CAPTURE="$<TARGET_FILE:sprox-capture>")
  add_dependencies(player_screen_test sprox-capture)
endif()
if(TARGET sprox_data)
  add_dependencies(player_screen_test sprox_data)
endif()
