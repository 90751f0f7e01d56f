# web.browser: the web build in headless Chromium (tests/web/browser-test.sh):
# six ?at= frames against the capture tool's, no error logged, the music on
# the wall clock in real-time play. It builds build-web/ itself and is
# skipped, with a line saying why, where emscripten, chromium or
# puppeteer-core is missing (bash scripts/install-deps.sh --web installs them).
# The sanitizer and fuzzing builds leave it out: it tests the browser's build.
if(NOT SPROX_SANITIZE AND NOT SPROX_FUZZ)
  sprox_register_test(browser WORKDIR ${CMAKE_CURRENT_BINARY_DIR} LABELS net slow
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/web/browser-test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(web.browser PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 1500)
endif()
