# H.264 decoder: our wrapper around libavcodec's decoding core.
pkg_check_modules(TREVOLO_H264_LIBAV REQUIRED IMPORTED_TARGET libavcodec libavutil)

add_library(trevolo_h264 STATIC
  ${CMAKE_CURRENT_LIST_DIR}/h264_access_units.cpp
  ${CMAKE_CURRENT_LIST_DIR}/h264_core.cpp
  ${CMAKE_CURRENT_LIST_DIR}/h264_decoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/h264_deinterlace.cpp
  ${CMAKE_CURRENT_LIST_DIR}/h264_gate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/h264_nal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/h264_params.cpp)
target_include_directories(trevolo_h264 PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(trevolo_h264 PRIVATE PkgConfig::TREVOLO_H264_LIBAV)
