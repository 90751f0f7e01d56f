# The compiler and linker flags of every build, from the cache variables the
# presets set (CMakePresets.json):
#   SPROX_WERROR     warnings fail the build (CI sets it; a developer's build may leave it off)
#   SPROX_SANITIZE   sanitizers, e.g. address,undefined or thread (presets asan and tsan)
#   SPROX_FUZZ       the libFuzzer build (clang; preset fuzz)
# Included once from the top-level CMakeLists.txt, before any target.
#
# Threads: the main thread only (configure time).
include_guard(GLOBAL)

if(SPROX_SANITIZE)
  # A sanitizer report ends the process, so that a test cannot pass over it.
  add_compile_options(-fsanitize=${SPROX_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${SPROX_SANITIZE})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC's flow analysis sees the sanitizers' instrumentation as reads of
    # unset values (inside the standard library's <regex>, for one) and warns
    # falsely; the plain build keeps the warning.
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
endif()

if(SPROX_SANITIZE MATCHES "address")
  # Mesa's GL driver is loaded with dlopen and unloaded again when the window
  # closes; its allocations kept until then show up at exit as leaks from an
  # "<unknown module>", which no suppression can name. Linking the driver
  # libraries into every executable of this build keeps them mapped, so their
  # leaks carry their library's name and tests/sanitizer/lsan.supp applies.
  # The driver's file is named for the hardware (swrast_dri.so) but its
  # library name is libgallium_dri.so, so a link under that name in the build
  # folder, on the run path, is what the loader finds.
  set(sprox_libdir /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE})
  set(sprox_keepdir ${CMAKE_BINARY_DIR}/glkeep)
  set(sprox_keep "")
  if(EXISTS ${sprox_libdir}/libGLX_mesa.so.0)
    list(APPEND sprox_keep ${sprox_libdir}/libGLX_mesa.so.0)
  endif()
  set(sprox_dri ${sprox_libdir}/dri/swrast_dri.so)
  if(EXISTS ${sprox_dri})
    execute_process(COMMAND readelf -d ${sprox_dri} OUTPUT_VARIABLE sprox_dri_dynamic ERROR_QUIET)
    set(sprox_dri_soname swrast_dri.so)
    if(sprox_dri_dynamic MATCHES "Library soname: \\[([^]]+)\\]")
      set(sprox_dri_soname ${CMAKE_MATCH_1})
    endif()
    file(MAKE_DIRECTORY ${sprox_keepdir})
    file(CREATE_LINK ${sprox_dri} ${sprox_keepdir}/${sprox_dri_soname} SYMBOLIC)
    list(APPEND sprox_keep ${sprox_keepdir}/${sprox_dri_soname})
  endif()
  if(sprox_keep)
    list(JOIN sprox_keep " " sprox_keep)
    string(APPEND CMAKE_EXE_LINKER_FLAGS
           " -Wl,--no-as-needed ${sprox_keep} -Wl,--as-needed -Wl,-rpath,${sprox_keepdir}")
  endif()
endif()

if(SPROX_FUZZ)
  # Every library a fuzzer links is instrumented for coverage and the sanitizers;
  # undefined behaviour in them ends the run like a crash, never just a line.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

add_compile_options(-Wall -Wextra)
if(SPROX_WERROR)
  add_compile_options(-Werror)
endif()
