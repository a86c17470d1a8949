# Tests of avtool gen, mux and demux and of the test picture reader. They run
# the real avtool and decode its pictures with the ffmpeg command line.
file(GLOB MEDIA_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_test.cpp)
add_executable(media_tests ${MEDIA_TEST_SOURCES} ${CMAKE_CURRENT_LIST_DIR}/media_test_util.cpp)
target_link_libraries(media_tests PRIVATE
  trevolo_testpattern trevolo_genmedia trevolo_engine trevolo_avwriter GTest::gtest GTest::gtest_main)
target_compile_definitions(media_tests PRIVATE
  AVTOOL_PATH="$<TARGET_FILE:avtool>"
  TREVOLO_TESTDATA_DIR="${TREVOLO_TESTDATA_DIR}")
add_dependencies(media_tests avtool)
gtest_discover_tests(media_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS media)
