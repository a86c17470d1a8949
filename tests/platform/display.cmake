pkg_check_modules(DISPLAY_TESTS_SDL2 REQUIRED IMPORTED_TARGET sdl2)

add_executable(display_tests
  ${CMAKE_CURRENT_LIST_DIR}/display_surface_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/display_window_test.cpp)
target_link_libraries(display_tests PRIVATE trevolo_platform_display trevolo_ddraw
  PkgConfig::DISPLAY_TESTS_SDL2 GTest::gtest GTest::gtest_main)
gtest_discover_tests(display_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS display)
