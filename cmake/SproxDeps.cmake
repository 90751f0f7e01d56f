# The libraries the project builds against, each looked up once here (from
# the top-level CMakeLists.txt) and linked everywhere else by the target
# named below; no subfolder looks a library up itself.
#
#   Threads::Threads         the standard thread library
#   OpenGL::GL               OpenGL (the system's libGL)
#   PkgConfig::GLFW3         GLFW 3, the window and input
#   PkgConfig::GLEW          GLEW, the GL entry points
#   Sprox::LodePNG           LodePNG (Debian ships a header and a shared library)
#   PkgConfig::ALSA          ALSA, when its headers are installed (ALSA_FOUND);
#                            without it the sound module builds the silent output only
#   PkgConfig::FREETYPE2     FreeType 2, text in the image generator and the capture tool
#   PkgConfig::X11           Xlib, for the capture tool and the development mode's tests
#   ZLIB::ZLIB               zlib, the image generator's PNG compression
#   GTest::gtest, GTest::gtest_main   GoogleTest (only with SPROX_BUILD_TESTS)
#   benchmark::benchmark     Google Benchmark, when installed (benchmark_FOUND):
#                            the hand-run reports
#
# Threads: the main thread only (configure time).
include_guard(GLOBAL)

find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(OpenGL REQUIRED)
find_package(ZLIB REQUIRED)
pkg_check_modules(GLFW3 REQUIRED IMPORTED_TARGET glfw3)
pkg_check_modules(GLEW REQUIRED IMPORTED_TARGET glew)
pkg_check_modules(FREETYPE2 REQUIRED IMPORTED_TARGET freetype2)
pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)
pkg_check_modules(ALSA QUIET IMPORTED_TARGET alsa)

# LodePNG has no pkg-config file nor CMake package: the library and its
# header, found by name, make one imported target.
find_library(SPROX_LODEPNG_LIBRARY lodepng REQUIRED)
find_path(SPROX_LODEPNG_INCLUDE_DIR lodepng.h REQUIRED)
add_library(Sprox::LodePNG UNKNOWN IMPORTED)
set_target_properties(Sprox::LodePNG PROPERTIES
  IMPORTED_LOCATION "${SPROX_LODEPNG_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${SPROX_LODEPNG_INCLUDE_DIR}")

if(SPROX_BUILD_TESTS)
  find_package(GTest REQUIRED)
  find_package(benchmark QUIET)
endif()
