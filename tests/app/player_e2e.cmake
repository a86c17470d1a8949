# The real player driven like a person would under the test run's X screen:
# command line, picture, time, seek, pause, end of file, hand-over, racing
# launches. Skipped (visibly) where there is no X display.
add_test(NAME player_end_to_end
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/player_e2e_test.sh $<TARGET_FILE:trevolo> $<TARGET_FILE:avtool>)
set_tests_properties(player_end_to_end PROPERTIES
  LABELS "player;xvfb" SKIP_RETURN_CODE 77 RUN_SERIAL TRUE TIMEOUT 180)
# Under AddressSanitizer the player starts and GTK builds its dialog several
# times slower: the script's waits grow with it.
if(TREVOLO_SANITIZE STREQUAL "address")
  set_tests_properties(player_end_to_end PROPERTIES ENVIRONMENT "TREVOLO_TEST_SLOWDOWN=4")
endif()
