# The platform's sound pieces are tested inside sound_tests (tests/audio/sound.cmake,
# whose folder is added before this one).
if(NOT TARGET sound_tests)
  message(FATAL_ERROR "sound_tests must be defined before tests/platform (tests/audio/sound.cmake)")
endif()
target_sources(sound_tests PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/event_set_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/looping_sound_buffer_test.cpp)
