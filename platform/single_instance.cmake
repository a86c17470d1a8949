# One player per session: the lock file and the hand-over socket (POSIX only).
add_library(trevolo_single_instance STATIC
  ${CMAKE_CURRENT_LIST_DIR}/single_instance.cpp
)
target_include_directories(trevolo_single_instance PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(trevolo_single_instance PUBLIC Threads::Threads)
