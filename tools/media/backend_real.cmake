# Real decoders behind `avtool play --decoders real`.
target_sources(avtool PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/backend_real.cpp)
target_link_libraries(avtool PRIVATE trevolo_h264 trevolo_amrnb)
