# The lock, the hand-over socket and racing launches, with forked processes
# in private temporary folders.
add_executable(single_instance_tests
  ${CMAKE_CURRENT_LIST_DIR}/single_instance_test.cpp)
target_link_libraries(single_instance_tests PRIVATE
  trevolo_single_instance GTest::gtest GTest::gtest_main)
gtest_discover_tests(single_instance_tests DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS single_instance)
