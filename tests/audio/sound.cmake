# sound_tests: CDirectSound here, the platform's sound pieces added by
# tests/platform/sound.cmake.
add_executable(sound_tests ${CMAKE_CURRENT_LIST_DIR}/direct_sound_test.cpp)
target_link_libraries(sound_tests PRIVATE trevolo_directsound GTest::gtest GTest::gtest_main)
gtest_discover_tests(sound_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS sound)
