add_executable(file_chooser_tests ${CMAKE_CURRENT_LIST_DIR}/file_chooser_test.cpp)
target_link_libraries(file_chooser_tests PRIVATE trevolo_file_chooser GTest::gtest
  GTest::gtest_main)
# The dialog tests need an X display (xvfb-run) and skip without one; the
# environment keeps GTK away from dconf and the accessibility bus. They type
# into the focused window, so no other test may take the focus meanwhile.
gtest_discover_tests(file_chooser_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS file_chooser
  RUN_SERIAL TRUE ENVIRONMENT "GSETTINGS_BACKEND=memory"
  ENVIRONMENT_MODIFICATION "NO_AT_BRIDGE=set:1")
