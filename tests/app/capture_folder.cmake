# The snapshot folder: CapturePic beside the executable and the fallback in the
# user's pictures folder, on temporary folders.
add_executable(capture_folder_tests ${CMAKE_CURRENT_LIST_DIR}/capture_folder_test.cpp)
target_link_libraries(capture_folder_tests PRIVATE trevolo_capture_folder
  GTest::gtest GTest::gtest_main)
gtest_discover_tests(capture_folder_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS app)
