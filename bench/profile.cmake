# The settings file layer: a commit pass's batch write and a page's worth of reads.
add_executable(profile_bench ${CMAKE_CURRENT_LIST_DIR}/profile_bench.cc)
target_link_libraries(profile_bench PRIVATE vormel_platform benchmark::benchmark_main)
