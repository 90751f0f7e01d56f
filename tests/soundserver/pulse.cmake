# The sound-server run: the real show played through a PulseAudio server of
# the test's own and recorded from the server's monitor, judged by pulse_check;
# and pulse_check's judge on recordings made in the test. Registered from
# tests/sound.cmake.

add_library(pulse_analysis STATIC ${CMAKE_CURRENT_LIST_DIR}/pulse_analysis.cpp)
target_include_directories(pulse_analysis PUBLIC ${CMAKE_CURRENT_LIST_DIR})
sprox_add_test(pulse_analysis_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/pulse_analysis_test.cpp LIBS pulse_analysis)

add_executable(pulse_check ${CMAKE_CURRENT_LIST_DIR}/pulse_check.cpp)
target_link_libraries(pulse_check PRIVATE pulse_analysis)

# The run needs the show and its data, and real-time playback: not in the
# sanitizer and fuzzing builds, whose slowed show would judge the machine.
# Without the server, its tools or the ALSA plugin it says so and is skipped
# (status 77); it runs alone, so the rest of the suite takes no CPU from it.
if(TARGET sprox_data AND NOT SPROX_SANITIZE AND NOT SPROX_FUZZ)
  add_dependencies(pulse_check sprox sprox_data)
  set(pulse_workdir ${CMAKE_CURRENT_BINARY_DIR}/run/pulse_playback)
  file(MAKE_DIRECTORY ${pulse_workdir})
  sprox_register_test(pulse_playback WORKDIR ${pulse_workdir} LABELS net slow
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/pulse-playback.sh ${CMAKE_BINARY_DIR} $<TARGET_FILE:pulse_check>)
  set_tests_properties(sound.pulse_playback PROPERTIES SKIP_RETURN_CODE 77 RUN_SERIAL TRUE TIMEOUT 150)
endif()
