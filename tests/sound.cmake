# The sound module: mixer arithmetic, sound system operations, WAV files and
# the silent output with the playback clock, in one test executable.
sprox_add_test(sound_test
  SOURCES sound_mixer_test.cpp sound_system_test.cpp sound_wav_test.cpp sound_output_test.cpp
          sound_waveout_test.cpp
  LIBS sound)

# The mixer's benchmark: a report run by hand, not a test.
if(benchmark_FOUND)
  add_executable(sound_bench ${CMAKE_CURRENT_LIST_DIR}/sound_bench.cpp)
  target_link_libraries(sound_bench PRIVATE sound benchmark::benchmark)
  target_include_directories(sound_bench PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_LIST_DIR})
endif()

include(${CMAKE_CURRENT_LIST_DIR}/link_check.cmake)
# Link check: libsound.a, libcorefile.a and libcore.a alone make a whole sound
# system (with the system's thread and ALSA libraries they name).
sprox_add_link_check(sound_link SOURCES sound_link_check.cpp ARCHIVES sound corefile core
  SYSTEM Threads::Threads $<TARGET_NAME_IF_EXISTS:PkgConfig::ALSA>)

# The show through a real sound server.
include(${CMAKE_CURRENT_LIST_DIR}/soundserver/pulse.cmake)
