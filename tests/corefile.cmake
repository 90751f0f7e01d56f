sprox_add_test(corefile_test SOURCES corefile_test.cpp LIBS corefile)
