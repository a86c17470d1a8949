find_package(benchmark REQUIRED)

add_executable(jpeg_bench ${CMAKE_CURRENT_LIST_DIR}/jpeg_bench.cpp)
target_link_libraries(jpeg_bench PRIVATE trevolo_jpeg benchmark::benchmark)
