# Sound output: the looping ring buffer over an SDL2 audio callback, and the
# event set writers wait on.
pkg_check_modules(SOUND_SDL2 REQUIRED IMPORTED_TARGET sdl2)

add_library(trevolo_platform_sound STATIC
  ${CMAKE_CURRENT_LIST_DIR}/event_set.cpp
  ${CMAKE_CURRENT_LIST_DIR}/looping_sound_buffer.cpp
)
target_include_directories(trevolo_platform_sound PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(trevolo_platform_sound
  PUBLIC Threads::Threads
  PRIVATE PkgConfig::SOUND_SDL2)
