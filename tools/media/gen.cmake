# The media commands of avtool (gen, mux, demux) and the test picture they
# draw, which the tests read back from decoded pictures.
pkg_check_modules(GEN_X264 REQUIRED IMPORTED_TARGET x264)
pkg_check_modules(GEN_AMRNB REQUIRED IMPORTED_TARGET opencore-amrnb)
pkg_check_modules(GEN_AVCODEC REQUIRED IMPORTED_TARGET libavcodec libavutil)

add_library(trevolo_testpattern STATIC ${CMAKE_CURRENT_LIST_DIR}/test_pattern.cpp)
target_include_directories(trevolo_testpattern PUBLIC ${CMAKE_SOURCE_DIR})

# Encoders, the AMR storage format and the access unit splitter, shared by
# the commands and the tests.
add_library(trevolo_genmedia STATIC
  ${CMAKE_CURRENT_LIST_DIR}/gen_audio.cpp
  ${CMAKE_CURRENT_LIST_DIR}/gen_streams.cpp
  ${CMAKE_CURRENT_LIST_DIR}/gen_video.cpp)
target_include_directories(trevolo_genmedia PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(trevolo_genmedia
  PUBLIC trevolo_testpattern trevolo_avwriter trevolo_engine
  PRIVATE PkgConfig::GEN_X264 PkgConfig::GEN_AMRNB PkgConfig::GEN_AVCODEC)

target_sources(avtool PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/cmd_gen.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cmd_mux.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cmd_demux.cpp)
target_link_libraries(avtool PRIVATE trevolo_genmedia trevolo_testpattern)
