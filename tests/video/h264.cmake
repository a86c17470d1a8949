# Tests of the H.264 decoder wrapper. The reference pictures come from the
# ffmpeg command line at test time; interlaced and full-size streams are made
# with libx264 through it.
add_executable(h264_tests
  ${CMAKE_CURRENT_LIST_DIR}/h264_nal_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/h264_params_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/h264_decoder_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/h264_streams_test.cpp
  ${CMAKE_SOURCE_DIR}/tools/md5.cpp)
target_link_libraries(h264_tests PRIVATE trevolo_h264 GTest::gtest GTest::gtest_main)
target_compile_definitions(h264_tests PRIVATE TREVOLO_TESTDATA_DIR="${TREVOLO_TESTDATA_DIR}")
gtest_discover_tests(h264_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS h264)
