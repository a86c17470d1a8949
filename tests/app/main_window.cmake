# The main window: the pure layout rectangles, and the built window with its
# playback behaviour (SDL's dummy video driver, the skin embedded).
add_executable(main_window_tests
  ${CMAKE_CURRENT_LIST_DIR}/layout_rects_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/layout_window_test.cpp)
target_link_libraries(main_window_tests PRIVATE trevolo_main_dialog GTest::gtest GTest::gtest_main)
trevolo_embed_resources(main_window_tests ${TREVOLO_SKIN_FILES})
gtest_discover_tests(main_window_tests DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS main_window ENVIRONMENT "SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy")
