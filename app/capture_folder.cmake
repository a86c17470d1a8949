# Where snapshots are written: CapturePic beside the executable, or a folder in
# the user's pictures folder for a player installed where it cannot write.
add_library(trevolo_capture_folder STATIC ${CMAKE_CURRENT_LIST_DIR}/capture_folder.cpp)
target_include_directories(trevolo_capture_folder PUBLIC ${CMAKE_SOURCE_DIR})
