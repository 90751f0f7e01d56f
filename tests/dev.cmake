# The development mode: reloads in one process on a real GL context (Xvfb),
# and the real program with --dev on a copy of the data, driven from outside
# (files rewritten, keys from xdotool, the window read through X).
sprox_add_test(dev_test SOURCES dev_test.cpp alloc_probe.cpp LIBS demo XVFB)
target_link_libraries(dev_test PRIVATE ${LODEPNG_LIBRARY})
if(TARGET sprox_data)
  add_dependencies(dev_test sprox_data)
endif()
