# media_callback_tests: the media callbacks against a window that records
# its posts and a renderer that records its pictures, and avtool play-window
# in the player's window (headless, and on an X display when there is one).
file(GLOB MEDIA_CALLBACK_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/media_*_test.cpp)
add_executable(media_callback_tests ${MEDIA_CALLBACK_TEST_SOURCES}
  ${CMAKE_CURRENT_LIST_DIR}/media_test_support.cpp)
# player_logic: notifications are read as the main window reads them;
# layout: where the window shows its picture; play_window_report: what
# avtool play-window reads from the window's status lines.
target_link_libraries(media_callback_tests PRIVATE
  trevolo_media trevolo_testpattern trevolo_player_logic trevolo_layout
  trevolo_play_window_report GTest::gtest GTest::gtest_main)
target_compile_definitions(media_callback_tests PRIVATE AVTOOL_PATH="$<TARGET_FILE:avtool>")
add_dependencies(media_callback_tests avtool)
# The playback cases run an engine in real time.
gtest_discover_tests(media_callback_tests DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS media_callbacks RUN_SERIAL TRUE)
