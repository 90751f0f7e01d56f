# The graphics layer's tests need a GL context: they run under Xvfb.
sprox_add_test(gfx_test SOURCES gfx_test.cpp LIBS gfx corefile XVFB)
