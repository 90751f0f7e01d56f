sprox_add_test(core_test SOURCES core_test.cpp LIBS core)
