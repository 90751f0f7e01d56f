# web_browser: the web build in headless Chromium (tests/web/browser-test.sh):
# six ?at= frames against the capture tool's, no error logged, the music on
# the wall clock in real-time play. It builds build-web/ itself (emscripten,
# chromium and puppeteer-core are installed when missing) and is skipped, with
# a line saying why, only where emscripten or chromium cannot be installed.
# The sanitizer and fuzzing builds leave it out: it tests the browser's build.
if(NOT SPROX_SANITIZE AND NOT SPROX_FUZZ)
  add_test(NAME web_browser
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/web/browser-test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(web_browser PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 1500)
endif()
