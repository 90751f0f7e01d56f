# The sound module: mixer arithmetic, sound system operations, WAV files and
# the silent output with the playback clock, in one test executable.
sprox_add_test(sound_test
  SOURCES sound_mixer_test.cpp sound_system_test.cpp sound_wav_test.cpp sound_output_test.cpp
  LIBS sound)

# The mixer's benchmark: a report run by hand, not a test.
if(benchmark_FOUND)
  add_executable(sound_bench ${CMAKE_CURRENT_LIST_DIR}/sound_bench.cpp)
  target_link_libraries(sound_bench PRIVATE sound benchmark::benchmark)
  target_include_directories(sound_bench PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_LIST_DIR})
endif()
