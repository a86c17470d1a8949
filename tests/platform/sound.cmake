# The platform's sound pieces are tested inside sound_tests (tests/audio/sound.cmake).
if(TARGET sound_tests)
  target_sources(sound_tests PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/event_set_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/looping_sound_buffer_test.cpp)
endif()
