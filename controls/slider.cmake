# CBitmapSlider and its value logic.
add_library(trevolo_slider STATIC
  ${CMAKE_CURRENT_LIST_DIR}/slider_range.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bitmap_slider.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bitmap_slider_paint.cpp)
target_link_libraries(trevolo_slider PUBLIC trevolo_controls_canvas)
target_include_directories(trevolo_slider PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
