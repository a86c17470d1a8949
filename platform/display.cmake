# Display: the player's SDL window with its message queue, input, frame and
# video rectangle, and the picture surfaces presented into it. libswscale
# draws YUV pictures into the window surface on the software path; the text
# over the picture is set in the player's font.
pkg_check_modules(DISPLAY_SDL2 REQUIRED IMPORTED_TARGET sdl2)
pkg_check_modules(DISPLAY_X11 REQUIRED IMPORTED_TARGET x11)
pkg_check_modules(DISPLAY_SWSCALE REQUIRED IMPORTED_TARGET libswscale)

add_library(trevolo_platform_display STATIC
  ${CMAKE_CURRENT_LIST_DIR}/display_surface.cpp
  ${CMAKE_CURRENT_LIST_DIR}/picture_scaler.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window.cpp
)
target_include_directories(trevolo_platform_display PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(trevolo_platform_display
  PUBLIC Threads::Threads trevolo_base
  PRIVATE trevolo_platform_font PkgConfig::DISPLAY_SDL2 PkgConfig::DISPLAY_X11 PkgConfig::DISPLAY_SWSCALE)
