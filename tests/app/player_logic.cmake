# The main window's pure decisions: no window, no threads, no clock.
add_executable(player_logic_tests
  ${CMAKE_CURRENT_LIST_DIR}/player_state_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/open_rules_test.cpp)
target_link_libraries(player_logic_tests PRIVATE trevolo_player_logic GTest::gtest GTest::gtest_main)
gtest_discover_tests(player_logic_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS player_logic)
