# The main window's decisions (time texts, position acceptance, layout and
# state changes, the rules for arriving paths, what its own keys do) as pure
# functions: C++ std only, testable without a window.
add_library(trevolo_player_logic STATIC
  ${CMAKE_CURRENT_LIST_DIR}/player_state.cpp
  ${CMAKE_CURRENT_LIST_DIR}/player_keys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/open_rules.cpp)
target_include_directories(trevolo_player_logic PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(trevolo_player_logic PUBLIC trevolo_base)
