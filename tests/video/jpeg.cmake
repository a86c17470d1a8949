pkg_check_modules(JPEG_TESTS_LIBJPEG REQUIRED IMPORTED_TARGET libjpeg)

add_executable(jpeg_tests ${CMAKE_CURRENT_LIST_DIR}/jpeg_writer_test.cpp)
target_link_libraries(jpeg_tests PRIVATE trevolo_jpeg PkgConfig::JPEG_TESTS_LIBJPEG
  GTest::gtest GTest::gtest_main)
gtest_discover_tests(jpeg_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS jpeg)
