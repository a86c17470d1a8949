# The TrueType font behind the window's text, found through fontconfig.
pkg_check_modules(FONT_SDL2 REQUIRED IMPORTED_TARGET sdl2)
pkg_check_modules(FONT_TTF REQUIRED IMPORTED_TARGET SDL2_ttf)
pkg_check_modules(FONT_FONTCONFIG REQUIRED IMPORTED_TARGET fontconfig)

add_library(trevolo_platform_font STATIC ${CMAKE_CURRENT_LIST_DIR}/ttf_font.cpp)
target_include_directories(trevolo_platform_font PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(trevolo_platform_font
  PUBLIC trevolo_base
  PRIVATE PkgConfig::FONT_SDL2 PkgConfig::FONT_TTF PkgConfig::FONT_FONTCONFIG)
