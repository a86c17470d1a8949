# amr_bench: the AMR-NB decoder against a direct loop over opencore's own
# public decoder on the same frames (the wrapper's overhead).
add_executable(amr_bench ${CMAKE_CURRENT_LIST_DIR}/amr_bench.cpp)
target_link_libraries(amr_bench PRIVATE trevolo_amrnb benchmark::benchmark)
