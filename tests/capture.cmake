# The capture tool: its pure library without GL, and the real executable
# (command line refusals without a display; frames, sheet and video under Xvfb).
if(TARGET capture_core)
  sprox_add_test(capture_test SOURCES capture_test.cpp LIBS capture_core sound corefile)
  if(TARGET sprox-capture)
    target_compile_definitions(capture_test PRIVATE SPROX_CAPTURE="$<TARGET_FILE:sprox-capture>")
    add_dependencies(capture_test sprox-capture)
    sprox_add_test(capture_gl_test SOURCES capture_gl_test.cpp LIBS capture_core timeline corefile
                   XVFB LABELS gl slow)
    target_compile_definitions(capture_gl_test PRIVATE SPROX_CAPTURE="$<TARGET_FILE:sprox-capture>")
    add_dependencies(capture_gl_test sprox-capture)
    if(TARGET sprox_data)
      add_dependencies(capture_gl_test sprox_data)
    endif()
  endif()
endif()
