sprox_add_fuzzer(fuzz_wav fuzz_wav.cpp)
target_link_libraries(fuzz_wav PRIVATE sound corefile)

# The seed writer of the WAV, PNG and timing corpora (not a fuzzer).
add_executable(fuzz_seedgen seedgen.cpp)
target_include_directories(fuzz_seedgen PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(fuzz_seedgen PRIVATE sound corefile Sprox::LodePNG)
