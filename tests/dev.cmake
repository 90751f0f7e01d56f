# The development mode: reloads in one process on a real GL context (Xvfb),
# and the real program with --dev on a copy of the data, driven from outside
# (files rewritten, keys from xdotool, the window read through X).
sprox_add_test(dev_test SOURCES dev_test.cpp alloc_probe.cpp LIBS demo XVFB)
target_link_libraries(dev_test PRIVATE Sprox::LodePNG)
if(TARGET sprox_data)
  add_dependencies(dev_test sprox_data)
endif()

sprox_add_test(dev_live_test SOURCES dev_live_test.cpp LIBS PkgConfig::X11 Sprox::LodePNG XVFB)
target_compile_definitions(dev_live_test PRIVATE SPROX_EXE="$<TARGET_FILE:sprox>")
add_dependencies(dev_live_test sprox)
if(TARGET sprox_data)
  add_dependencies(dev_live_test sprox_data)
endif()
