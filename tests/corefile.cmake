sprox_add_test(corefile_test SOURCES corefile_test.cpp LIBS corefile)

include(${CMAKE_CURRENT_LIST_DIR}/link_check.cmake)
# Link check: libcorefile.a and libcore.a alone make a whole file system. The
# archives are linked by path, so that nothing comes along through a target's
# own link list, and only the source tree is on the include path.
sprox_add_link_check(corefile_link SOURCES corefile_link_check.cpp ARCHIVES corefile core)
