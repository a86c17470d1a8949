# Pixel tests of the canvas, the labels and the bitmap slider.
file(GLOB CANVAS_TEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/canvas_*_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/labels_*_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/slider_*_test.cpp)
add_executable(canvas_tests ${CANVAS_TEST_SOURCES})
target_include_directories(canvas_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(canvas_tests PRIVATE trevolo_slider trevolo_controls_canvas
  GTest::gtest GTest::gtest_main)
gtest_discover_tests(canvas_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS controls)
