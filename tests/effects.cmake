# The effect layer's tests need a GL context: they run under Xvfb.
sprox_add_test(effects_test SOURCES effects_test.cpp LIBS effects gfx timeline corefile XVFB)
