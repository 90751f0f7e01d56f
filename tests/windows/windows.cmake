# The Windows program under Wine (tests/windows/wine-run.sh), label windows
# only: it needs dist/sprox.exe from scripts/windows.sh, so neither
# `ctest -L unit` nor scripts/test.sh without that file runs it; .ci/run
# builds the file and then runs `ctest --preset default -L windows`.
# Without MinGW-w64 or Wine it says so and is skipped (status 77).
if(TARGET sprox_data AND TARGET sprox-capture AND NOT SPROX_SANITIZE AND NOT SPROX_FUZZ)
  set(windows_workdir ${CMAKE_CURRENT_BINARY_DIR}/run/windows_wine)
  file(MAKE_DIRECTORY ${windows_workdir})
  sprox_register_test(windows_wine WORKDIR ${windows_workdir} LABELS windows
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}
            $<TARGET_FILE:pulse_check>)
  set_tests_properties(windows.windows_wine PROPERTIES SKIP_RETURN_CODE 77 RUN_SERIAL TRUE TIMEOUT 400)
endif()
