# avtool play-window: a recording played in the player's own window (the one
# playback controller, CTrevoloDlg; tools/CMakeLists.txt embeds its skin). The
# reading of the window's status lines is a small library of its own, which
# the tests check without a window.
add_library(trevolo_play_window_report STATIC ${CMAKE_CURRENT_LIST_DIR}/play_window_report.cpp)
target_include_directories(trevolo_play_window_report PUBLIC ${CMAKE_SOURCE_DIR})

target_sources(avtool PRIVATE ${CMAKE_CURRENT_LIST_DIR}/cmd_play_window.cpp)
target_link_libraries(avtool PRIVATE trevolo_main_dialog trevolo_play_window_report)
