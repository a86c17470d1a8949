# CGdipButton, the PNG resource loader and the embedded-resource registry.
pkg_check_modules(BUTTON_PNG REQUIRED IMPORTED_TARGET libpng)
add_library(trevolo_button STATIC
  ${CMAKE_CURRENT_LIST_DIR}/resource_registry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/png_image.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bitmap_resource.cpp
  ${CMAKE_CURRENT_LIST_DIR}/gdip_button.cpp)
target_link_libraries(trevolo_button PUBLIC trevolo_controls_canvas PRIVATE PkgConfig::BUTTON_PNG)
target_include_directories(trevolo_button PUBLIC ${CMAKE_SOURCE_DIR})
