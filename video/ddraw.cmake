# Picture renderer: source format codes, row copies and the renderer over the
# platform's display surfaces.
add_library(trevolo_ddraw STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ddraw_formats.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ddraw_renderer.cpp
)
target_include_directories(trevolo_ddraw PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(trevolo_ddraw PUBLIC trevolo_platform_display)
