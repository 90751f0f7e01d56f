sprox_add_test(corepack_test SOURCES corepack_test.cpp LIBS corepack_format)
