# The development folder: the files of the resource image as symbolic links
# to where they are made (content/ and the generated assets in the build
# folder), so that `sprox --dev` on it reads every file from its source and
# sees a change the moment it is saved.
#
#   sprox_dev_folder(OUT REPLACE path... WITH path...)
# takes the paths registered with sprox_pack_add, leaves out those named
# after REPLACE and adds those after WITH (a file links under its base name,
# a folder's tree under names relative to the folder). Run at build time by
# cmake/SproxDevLinks.cmake, which also removes links that no longer belong.

function(sprox_dev_folder out)
  cmake_parse_arguments(ARG "" "" "REPLACE;WITH" ${ARGN})
  get_property(paths GLOBAL PROPERTY SPROX_PACK_PATHS)
  get_property(deps GLOBAL PROPERTY SPROX_PACK_DEPENDS)
  if(ARG_REPLACE)
    list(REMOVE_ITEM paths ${ARG_REPLACE})
  endif()
  list(APPEND paths ${ARG_WITH})
  string(REPLACE ";" "|" joined "${paths}")
  set(stamp ${CMAKE_BINARY_DIR}/dev.stamp)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DOUT=${out} "-DPATHS=${joined}" -P ${CMAKE_SOURCE_DIR}/cmake/SproxDevLinks.cmake
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${deps} ${CMAKE_SOURCE_DIR}/cmake/SproxDevLinks.cmake
    COMMENT "Linking the development folder ${out}"
    VERBATIM)
  add_custom_target(sprox_dev ALL DEPENDS ${stamp})
endfunction()
