sprox_add_test(timeline_test SOURCES timeline_test.cpp LIBS timeline corefile)
