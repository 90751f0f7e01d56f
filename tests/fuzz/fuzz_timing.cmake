sprox_add_fuzzer(fuzz_timing fuzz_timing.cpp)
target_link_libraries(fuzz_timing PRIVATE timeline corefile)
