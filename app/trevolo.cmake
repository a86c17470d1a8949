# The player: the window framework (controls in a software canvas over the
# platform window), the main window's layout, the main window itself (a
# library, so tests and avtool drive the same controller) and the trevolo
# executable with the skin embedded.
add_library(trevolo_layout STATIC ${CMAKE_CURRENT_LIST_DIR}/layout.cpp)
target_include_directories(trevolo_layout PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(trevolo_layout PUBLIC trevolo_controls_canvas)

add_library(trevolo_framework STATIC
  ${CMAKE_CURRENT_LIST_DIR}/control.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dialog_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dialog_input.cpp)
target_include_directories(trevolo_framework PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(trevolo_framework PUBLIC
  trevolo_base trevolo_button trevolo_slider trevolo_platform_display trevolo_platform_font)

add_library(trevolo_main_dialog STATIC
  ${CMAKE_CURRENT_LIST_DIR}/trevolo_dlg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/trevolo_keys.cpp)
target_link_libraries(trevolo_main_dialog PUBLIC
  trevolo_layout trevolo_framework trevolo_player_logic trevolo_capture_folder trevolo_media
  trevolo_file_chooser trevolo_single_instance)

# The skin images, for every program that builds the main window.
file(GLOB TREVOLO_SKIN_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/skin/*.png)
set(TREVOLO_SKIN_FILES ${TREVOLO_SKIN_FILES} CACHE INTERNAL "skin images")

add_executable(trevolo ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(trevolo PRIVATE trevolo_main_dialog)
trevolo_embed_resources(trevolo ${TREVOLO_SKIN_FILES})
