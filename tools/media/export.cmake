# avtool export and thumbnail: a recording as an MP4 or Matroska file
# (libavformat, the AAC encoder of libavcodec) and as a PNG preview picture
# for file managers (libswscale, libpng).
pkg_check_modules(EXPORT_LIBAV REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil libswscale)
find_package(PNG REQUIRED)

target_sources(avtool PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/cmd_export.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cmd_thumbnail.cpp
  ${CMAKE_SOURCE_DIR}/tools/png_file.cpp)
target_link_libraries(avtool PRIVATE PkgConfig::EXPORT_LIBAV PNG::PNG trevolo_h264 trevolo_amrnb)
