# The AMR-NB decoder. Static only: opencore's archive is not built
# position-independent, so it cannot go into a shared object. The frame-level
# decoder it calls lives only in that archive (the shared library hides it).
find_library(TREVOLO_OPENCORE_AMRNB_ARCHIVE NAMES libopencore-amrnb.a REQUIRED)
find_path(TREVOLO_OPENCORE_AMRNB_INCLUDE_DIR opencore-amrnb/interf_dec.h REQUIRED)

add_library(trevolo_amrnb STATIC
  ${CMAKE_CURRENT_LIST_DIR}/amr_decoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/amr_frame.cpp
  ${CMAKE_CURRENT_LIST_DIR}/amr_homing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/amr_tables.cpp)
target_include_directories(trevolo_amrnb PUBLIC ${CMAKE_SOURCE_DIR} ${TREVOLO_OPENCORE_AMRNB_INCLUDE_DIR})
# Public: users of the decoder link the speech core; the tests and benchmarks
# also use the archive's encoder and its own public decoder.
target_link_libraries(trevolo_amrnb PUBLIC ${TREVOLO_OPENCORE_AMRNB_ARCHIVE})
