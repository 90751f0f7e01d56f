# scenes_test: the scenes of the real show, rendered from the real sprox.dat
# of the build folder under Xvfb and measured (alive, not flat, not black,
# moving, distinct). Every tests/scenes_*test.cpp joins the one executable;
# the shared helpers are in tests/scenes_common.h, the held clock of the
# effect passes in tests/scenes_clock.cpp.
file(GLOB SPROX_SCENES_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/scenes_*test.cpp)
if(SPROX_SCENES_TEST_SOURCES)
  sprox_add_test(scenes_test SOURCES ${SPROX_SCENES_TEST_SOURCES} ${CMAKE_CURRENT_SOURCE_DIR}/scenes_clock.cpp
                 LIBS demo Sprox::LodePNG XVFB LABELS gl slow)
  # The frames come from the packed image: build it before the test.
  if(TARGET sprox_data)
    add_dependencies(scenes_test sprox_data)
  endif()
endif()
