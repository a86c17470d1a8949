# Display: the player's SDL window with its message queue, input, frame and
# video rectangle, and the picture surfaces presented into it.
pkg_check_modules(DISPLAY_SDL2 REQUIRED IMPORTED_TARGET sdl2)
pkg_check_modules(DISPLAY_X11 REQUIRED IMPORTED_TARGET x11)

add_library(trevolo_platform_display STATIC
  ${CMAKE_CURRENT_LIST_DIR}/display_surface.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window.cpp
)
target_include_directories(trevolo_platform_display PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(trevolo_platform_display
  PUBLIC Threads::Threads trevolo_base
  PRIVATE PkgConfig::DISPLAY_SDL2 PkgConfig::DISPLAY_X11)
