# Renderer benchmarks: Counter2 through the shared library, one run per style.
add_executable(renderer_bench ${CMAKE_CURRENT_LIST_DIR}/renderer_bench.cc)
target_link_libraries(renderer_bench PRIVATE Kandri kandri_core benchmark::benchmark)
