# The main window: the pure layout rectangles, and the built window with its
# playback behaviour and its keys (SDL's dummy video driver, the skin
# embedded; the key test pushes SDL's own key and text events).
pkg_check_modules(MAIN_WINDOW_TESTS_SDL2 REQUIRED IMPORTED_TARGET sdl2)
add_executable(main_window_tests
  ${CMAKE_CURRENT_LIST_DIR}/layout_rects_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/layout_window_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_window_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_window_keys_test.cpp)
target_link_libraries(main_window_tests PRIVATE
  trevolo_main_dialog PkgConfig::MAIN_WINDOW_TESTS_SDL2 GTest::gtest GTest::gtest_main)
trevolo_embed_resources(main_window_tests ${TREVOLO_SKIN_FILES})
gtest_discover_tests(main_window_tests DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS main_window ENVIRONMENT "SDL_VIDEODRIVER=dummy"
    ENVIRONMENT_MODIFICATION "SDL_AUDIODRIVER=set:dummy")

# The main window playing generated recordings through the real engine,
# decoders and sound output (disk driver, real-time pace).
add_executable(main_window_playback_tests
  ${CMAKE_CURRENT_LIST_DIR}/main_window_playback_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/media/media_test_util.cpp)
target_link_libraries(main_window_playback_tests PRIVATE
  trevolo_main_dialog trevolo_testpattern trevolo_genmedia GTest::gtest GTest::gtest_main)
target_compile_definitions(main_window_playback_tests PRIVATE AVTOOL_PATH="$<TARGET_FILE:avtool>")
add_dependencies(main_window_playback_tests avtool)
trevolo_embed_resources(main_window_playback_tests ${TREVOLO_SKIN_FILES})
gtest_discover_tests(main_window_playback_tests DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS main_window ENVIRONMENT "SDL_VIDEODRIVER=dummy"
    ENVIRONMENT_MODIFICATION "SDL_AUDIODRIVER=set:dummy")
