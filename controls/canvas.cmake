# The software canvas, images, colour matrices, CMemDC and the text labels.
add_library(trevolo_controls_canvas STATIC
  ${CMAKE_CURRENT_LIST_DIR}/image.cpp
  ${CMAKE_CURRENT_LIST_DIR}/color_matrix.cpp
  ${CMAKE_CURRENT_LIST_DIR}/canvas.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mem_dc.cpp
  ${CMAKE_CURRENT_LIST_DIR}/labels.cpp)
target_include_directories(trevolo_controls_canvas PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(trevolo_controls_canvas PUBLIC trevolo_base)
