sprox_add_fuzzer(fuzz_png fuzz_png.cpp)
target_link_libraries(fuzz_png PRIVATE gfx corefile)
