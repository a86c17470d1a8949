# Snapshot writer: I420 pictures to baseline JPEG files through libjpeg.
pkg_check_modules(SNAPSHOT_JPEG REQUIRED IMPORTED_TARGET libjpeg)

add_library(trevolo_jpeg STATIC ${CMAKE_CURRENT_LIST_DIR}/jpeg_writer.cpp)
target_include_directories(trevolo_jpeg PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(trevolo_jpeg PRIVATE PkgConfig::SNAPSHOT_JPEG)
