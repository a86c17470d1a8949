# amr_tests: the AMR-NB decoder, with test input made by opencore's encoder.
add_executable(amr_tests
  ${CMAKE_CURRENT_LIST_DIR}/amr_decoder_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/amr_homing_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/amr_tool_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/amr_test_frames.cpp)
target_link_libraries(amr_tests PRIVATE trevolo_amrnb GTest::gtest GTest::gtest_main)
target_compile_definitions(amr_tests PRIVATE AVTOOL_PATH="$<TARGET_FILE:avtool>")
add_dependencies(amr_tests avtool)
gtest_discover_tests(amr_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS amr)
