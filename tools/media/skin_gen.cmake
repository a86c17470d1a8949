# skin_gen draws the player's skin images from code. `cmake --build . --target
# skin` regenerates res/skin/*.png in the source tree and the preview picture
# docs/skin-preview.png; the generated images are kept in the repository.
find_package(PNG REQUIRED)

set(SKIN_GEN_DIR ${CMAKE_SOURCE_DIR}/tools/skin_gen)
add_executable(skin_gen
  ${SKIN_GEN_DIR}/canvas.cpp
  ${SKIN_GEN_DIR}/shapes.cpp
  ${SKIN_GEN_DIR}/skin_art.cpp
  ${SKIN_GEN_DIR}/skin_buttons.cpp
  ${SKIN_GEN_DIR}/skin_preview.cpp
  ${SKIN_GEN_DIR}/skin_gen.cpp
  ${CMAKE_SOURCE_DIR}/tools/png_file.cpp)
target_include_directories(skin_gen PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(skin_gen PRIVATE PNG::PNG)

add_custom_target(skin
  COMMAND skin_gen ${CMAKE_SOURCE_DIR}/res/skin --preview ${CMAKE_SOURCE_DIR}/docs/skin-preview.png
          --icons ${CMAKE_SOURCE_DIR}/res/icons
  COMMENT "Drawing the skin images into res/skin and the desktop icons into res/icons"
  VERBATIM)
