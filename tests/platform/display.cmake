pkg_check_modules(DISPLAY_TESTS_SDL2 REQUIRED IMPORTED_TARGET sdl2)
pkg_check_modules(DISPLAY_TESTS_X11 REQUIRED IMPORTED_TARGET x11)

add_executable(display_tests
  ${CMAKE_CURRENT_LIST_DIR}/display_surface_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/display_window_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/display_full_screen_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x_window_place.cpp)
target_link_libraries(display_tests PRIVATE trevolo_platform_display trevolo_platform_font trevolo_ddraw
  PkgConfig::DISPLAY_TESTS_SDL2 PkgConfig::DISPLAY_TESTS_X11 GTest::gtest GTest::gtest_main)
gtest_discover_tests(display_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS display)
