# avtool h264: the player's H.264 decoder on an Annex B file.
target_sources(avtool PRIVATE ${CMAKE_CURRENT_LIST_DIR}/cmd_h264.cpp)
target_link_libraries(avtool PRIVATE trevolo_h264)
