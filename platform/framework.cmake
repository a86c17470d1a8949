# The dialog framework: the skinned top-level window, its child controls,
# input routing, timers and the TrueType font behind the labels.
pkg_check_modules(FW_SDL2 REQUIRED IMPORTED_TARGET sdl2)
pkg_check_modules(FW_TTF REQUIRED IMPORTED_TARGET SDL2_ttf)
pkg_check_modules(FW_FONTCONFIG REQUIRED IMPORTED_TARGET fontconfig)

add_library(trevolo_framework STATIC
  ${CMAKE_CURRENT_LIST_DIR}/control.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dialog_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fw_input.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ttf_glyphs.cpp)
target_include_directories(trevolo_framework PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(trevolo_framework
  PUBLIC trevolo_button trevolo_slider PkgConfig::FW_SDL2
  PRIVATE PkgConfig::FW_TTF PkgConfig::FW_FONTCONFIG)
