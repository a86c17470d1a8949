add_executable(ddraw_tests
  ${CMAKE_CURRENT_LIST_DIR}/ddraw_formats_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ddraw_renderer_test.cpp)
target_link_libraries(ddraw_tests PRIVATE trevolo_ddraw GTest::gtest GTest::gtest_main)
gtest_discover_tests(ddraw_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS ddraw)
