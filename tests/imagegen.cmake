# The image generator: its helpers, and the real generator run into the
# test's own folder (every asset, sizes, transparency, tiling, determinism):
# slow, for the whole generator run.
if(TARGET imagegen)
  sprox_add_test(imagegen_test SOURCES imagegen_test.cpp LIBS imagegen_lib Sprox::LodePNG LABELS slow)
  target_compile_definitions(imagegen_test PRIVATE SPROX_IMAGEGEN="$<TARGET_FILE:imagegen>")
  add_dependencies(imagegen_test imagegen)
endif()
