# The dialog framework's input routing, focus, keys, timers and messages,
# under SDL's dummy video driver.
add_executable(framework_tests
  ${CMAKE_CURRENT_LIST_DIR}/framework_input_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/framework_messages_test.cpp)
target_link_libraries(framework_tests PRIVATE trevolo_framework GTest::gtest GTest::gtest_main)
gtest_discover_tests(framework_tests DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS framework ENVIRONMENT "SDL_VIDEODRIVER=dummy"
    ENVIRONMENT_MODIFICATION "SDL_AUDIODRIVER=set:dummy")
