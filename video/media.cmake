# The media callbacks and their shared context: the application's side of
# the engine's callback table.
add_library(trevolo_media STATIC
  ${CMAKE_CURRENT_LIST_DIR}/media_callbacks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/media_snapshot.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sound_speed.cpp)
target_include_directories(trevolo_media PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(trevolo_media PUBLIC
  trevolo_engine trevolo_h264 trevolo_amrnb trevolo_directsound trevolo_jpeg)
# Sound at another speed with its pitch kept (libsonic ships no pkg-config file).
find_path(SONIC_INCLUDE_DIR sonic.h REQUIRED)
find_library(SONIC_LIBRARY sonic REQUIRED)
target_include_directories(trevolo_media PRIVATE ${SONIC_INCLUDE_DIR})
target_link_libraries(trevolo_media PRIVATE ${SONIC_LIBRARY})
# Pictures are shown through the renderer (ddraw.cmake, included before this
# file); without it the build stops rather than quietly dropping the display.
if(NOT TARGET trevolo_ddraw)
  message(FATAL_ERROR "trevolo_media needs trevolo_ddraw (video/ddraw.cmake)")
endif()
target_sources(trevolo_media PRIVATE ${CMAKE_CURRENT_LIST_DIR}/media_present.cpp)
target_link_libraries(trevolo_media PUBLIC trevolo_ddraw)
