# The main window's layout: the pure rectangles, and the built window
# (SDL's dummy video driver, the skin embedded).
if(TARGET trevolo_main_dialog)
  add_executable(layout_tests
    ${CMAKE_CURRENT_LIST_DIR}/layout_rects_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/layout_window_test.cpp)
  target_link_libraries(layout_tests PRIVATE trevolo_main_dialog GTest::gtest GTest::gtest_main)
  trevolo_embed_resources(layout_tests ${TREVOLO_SKIN_FILES})
  gtest_discover_tests(layout_tests DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS layout ENVIRONMENT "SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy")
endif()
