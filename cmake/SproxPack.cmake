# Collects what goes into the resource image and packs it with corepack.
#
# A generator or a content folder registers its output with
#   sprox_pack_add(PATH [DEPENDS target-or-file...])
# where PATH is a file (stored under its base name) or a folder (its tree is
# stored with names relative to the folder). The top level then calls
# sprox_pack_image(OUT) once, after every subdirectory has registered.

function(sprox_pack_add path)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  set_property(GLOBAL APPEND PROPERTY SPROX_PACK_PATHS "${path}")
  if(ARG_DEPENDS)
    set_property(GLOBAL APPEND PROPERTY SPROX_PACK_DEPENDS ${ARG_DEPENDS})
  endif()
endfunction()

function(sprox_pack_image out)
  get_property(paths GLOBAL PROPERTY SPROX_PACK_PATHS)
  get_property(deps GLOBAL PROPERTY SPROX_PACK_DEPENDS)
  add_custom_command(
    OUTPUT ${out}
    COMMAND corepack -o ${out} ${paths}
    DEPENDS corepack ${deps}
    COMMENT "Packing the resource image ${out}"
    VERBATIM)
  add_custom_target(sprox_data ALL DEPENDS ${out})
  # The inputs, one a line, for builds that pack this image again with the
  # host's corepack (scripts/windows.sh appends it to the Windows program).
  list(JOIN paths "\n" lines)
  file(WRITE ${CMAKE_BINARY_DIR}/sprox-pack-inputs.txt "${lines}\n")

  # The one file to hand out (scripts/release.sh, not part of ALL): the
  # program stripped, then the same image appended to it with its trailer,
  # which the program finds when no sprox.dat lies about.
  set(appended ${CMAKE_BINARY_DIR}/dist/sprox)
  add_custom_command(
    OUTPUT ${appended}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/dist
    COMMAND ${CMAKE_STRIP} -o ${CMAKE_BINARY_DIR}/dist/sprox.stripped $<TARGET_FILE:sprox>
    COMMAND corepack -o ${appended} --append ${CMAKE_BINARY_DIR}/dist/sprox.stripped ${paths}
    COMMAND chmod 755 ${appended}
    DEPENDS sprox corepack ${deps}
    COMMENT "Appending the resource image to a stripped ${appended}"
    VERBATIM)
  add_custom_target(sprox_appended DEPENDS ${appended})
endfunction()
