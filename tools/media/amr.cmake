# avtool amr: decodes raw AMR-NB frame files through the player's decoder.
target_sources(avtool PRIVATE ${CMAKE_CURRENT_LIST_DIR}/cmd_amr.cpp)
target_link_libraries(avtool PRIVATE trevolo_amrnb)
