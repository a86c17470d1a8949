# Display: the minimal SDL window with its message queue and video rectangle,
# and the picture surfaces presented into it.
pkg_check_modules(DISPLAY_SDL2 REQUIRED IMPORTED_TARGET sdl2)

add_library(trevolo_platform_display STATIC
  ${CMAKE_CURRENT_LIST_DIR}/display_surface.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window.cpp
)
target_include_directories(trevolo_platform_display PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(trevolo_platform_display
  PUBLIC Threads::Threads
  PRIVATE PkgConfig::DISPLAY_SDL2)
