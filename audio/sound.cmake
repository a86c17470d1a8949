# CDirectSound: the streaming sound output over the platform's looping buffer.
add_library(trevolo_directsound STATIC ${CMAKE_CURRENT_LIST_DIR}/direct_sound.cpp)
target_include_directories(trevolo_directsound PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(trevolo_directsound PUBLIC trevolo_platform_sound)
