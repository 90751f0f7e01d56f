# musicgen: the synthesiser's building blocks, the score reader and sequencer
# with the timing file, and the rendered music as the show loads it.
if(TARGET musicgen_dsp)
  sprox_add_test(musicgen_test
    SOURCES musicgen_test.cpp musicgen_score_test.cpp musicgen_track_test.cpp
    LIBS musicgen_dsp timeline sound corefile)
  # The track tests read the music the build renders.
  add_dependencies(musicgen_test sprox_music)

  # Render and mastering speed: a report run by hand, not a test.
  if(benchmark_FOUND)
    add_executable(musicgen_bench ${CMAKE_CURRENT_LIST_DIR}/musicgen_bench.cpp)
    target_link_libraries(musicgen_bench PRIVATE musicgen_dsp benchmark::benchmark)
    target_include_directories(musicgen_bench PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_definitions(musicgen_bench PRIVATE SPROX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  endif()
endif()
