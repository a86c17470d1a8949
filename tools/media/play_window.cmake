# avtool play-window: a recording played in a plain window through the
# player's media callbacks, renderer and sound output.
if(TARGET trevolo_media AND TARGET trevolo_ddraw)
  target_sources(avtool PRIVATE ${CMAKE_CURRENT_LIST_DIR}/cmd_play_window.cpp)
  target_link_libraries(avtool PRIVATE trevolo_media trevolo_ddraw trevolo_jpeg)
endif()
