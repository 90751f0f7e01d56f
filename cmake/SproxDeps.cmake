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
# SPROX_STATIC_DEPS=PATH (the release preset sets it; scripts/release.sh
# fills the folder): GLFW, GLEW and LodePNG are compiled from the sources
# unpacked in PATH/glfw3, PATH/glew and PATH/lodepng into static libraries
# inside the build folder, the three targets above name those, and every
# executable links the C++ run-time statically. The program then needs only
# glibc, libGL, the X11 client libraries and libasound.so.2 on the viewer's
# machine. Left empty (every other build), the system's shared libraries.
#
# Windows (preset windows, cmake/toolchain-mingw64.cmake, scripts/windows.sh):
# the engine alone, with SPROX_STATIC_DEPS as above, OpenGL::GL naming
# opengl32, and every executable linked -static (the C, C++ and thread
# run-times inside) and -mwindows (no console window), with winmm (waveOut)
# and opengl32 at the end of every link line: the program then needs only
# DLLs that every Windows has. FreeType, Xlib, zlib and ALSA belong to Linux
# and the host tools and are not looked up there.
#
# Threads: the main thread only (configure time).
include_guard(GLOBAL)

set(SPROX_STATIC_DEPS "" CACHE PATH
    "Folder of the GLFW, GLEW and LodePNG sources to link statically (empty: the system's shared libraries)")

if(WIN32 AND NOT SPROX_STATIC_DEPS)
  message(FATAL_ERROR "The Windows build links GLFW, GLEW and LodePNG from their sources: "
                      "set SPROX_STATIC_DEPS (scripts/windows.sh fetches them into build-windows/deps)")
endif()
if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
endif()
find_package(Threads REQUIRED)
if(SPROX_STATIC_DEPS)
  # libGL.so.1: the one name for GL and GLX that every Linux has, with the GL
  # vendor library (libglvnd) or without it.
  set(OpenGL_GL_PREFERENCE LEGACY)
endif()
find_package(OpenGL REQUIRED)
if(NOT WIN32)
  find_package(ZLIB REQUIRED)
  pkg_check_modules(FREETYPE2 REQUIRED IMPORTED_TARGET freetype2)
  pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)
  pkg_check_modules(ALSA QUIET IMPORTED_TARGET alsa)
endif()

if(SPROX_STATIC_DEPS)
  foreach(sprox_dep_file glfw3/CMakeLists.txt glew/src/glew.c lodepng/lodepng.cpp)
    if(NOT EXISTS ${SPROX_STATIC_DEPS}/${sprox_dep_file})
      message(FATAL_ERROR "SPROX_STATIC_DEPS: ${SPROX_STATIC_DEPS}/${sprox_dep_file} is missing "
                          "(scripts/release.sh fetches the sources into that folder)")
    endif()
  endforeach()

  # GLFW with its own build description: static, the X11 back-end only (it
  # opens libGL and the optional X extensions itself at run time).
  set(BUILD_SHARED_LIBS OFF)
  foreach(sprox_glfw_off GLFW_BUILD_EXAMPLES GLFW_BUILD_TESTS GLFW_BUILD_DOCS GLFW_INSTALL GLFW_USE_WAYLAND)
    set(${sprox_glfw_off} OFF CACHE BOOL "" FORCE)
  endforeach()
  add_subdirectory(${SPROX_STATIC_DEPS}/glfw3 ${CMAKE_BINARY_DIR}/static/glfw3 EXCLUDE_FROM_ALL)
  add_library(PkgConfig::GLFW3 ALIAS glfw)

  # GLEW is one generated file; without GLU, whose entry points the program never calls.
  add_library(sprox_glew STATIC EXCLUDE_FROM_ALL ${SPROX_STATIC_DEPS}/glew/src/glew.c)
  target_compile_definitions(sprox_glew PUBLIC GLEW_STATIC GLEW_NO_GLU)
  target_include_directories(sprox_glew SYSTEM PUBLIC ${SPROX_STATIC_DEPS}/glew/include)
  # It finds the entry points through glXGetProcAddressARB, which libGL.so.1 has.
  target_link_libraries(sprox_glew PUBLIC OpenGL::GL)
  add_library(PkgConfig::GLEW ALIAS sprox_glew)

  add_library(sprox_lodepng STATIC EXCLUDE_FROM_ALL ${SPROX_STATIC_DEPS}/lodepng/lodepng.cpp)
  target_include_directories(sprox_lodepng SYSTEM PUBLIC ${SPROX_STATIC_DEPS}/lodepng)
  add_library(Sprox::LodePNG ALIAS sprox_lodepng)

  # Their code is theirs: its warnings would only hide ours (and fail -Werror).
  foreach(sprox_dep glfw sprox_glew sprox_lodepng)
    target_compile_options(${sprox_dep} PRIVATE -w)
  endforeach()
  if(WIN32)
    string(APPEND CMAKE_EXE_LINKER_FLAGS " -static -mwindows")
    string(APPEND CMAKE_CXX_STANDARD_LIBRARIES " -lwinmm -lopengl32")
  else()
    string(APPEND CMAKE_EXE_LINKER_FLAGS " -static-libstdc++ -static-libgcc")
  endif()
else()
  pkg_check_modules(GLFW3 REQUIRED IMPORTED_TARGET glfw3)
  pkg_check_modules(GLEW REQUIRED IMPORTED_TARGET glew)
  # LodePNG has no pkg-config file nor CMake package: the library and its
  # header, found by name, make one imported target.
  find_library(SPROX_LODEPNG_LIBRARY lodepng REQUIRED)
  find_path(SPROX_LODEPNG_INCLUDE_DIR lodepng.h REQUIRED)
  add_library(Sprox::LodePNG UNKNOWN IMPORTED)
  set_target_properties(Sprox::LodePNG PROPERTIES
    IMPORTED_LOCATION "${SPROX_LODEPNG_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${SPROX_LODEPNG_INCLUDE_DIR}")
endif()

if(SPROX_BUILD_TESTS)
  find_package(GTest REQUIRED)
  find_package(benchmark QUIET)
endif()
