# The module's request path: command selection and binding, a commit pass, the manager page.
add_executable(service_bench ${CMAKE_CURRENT_LIST_DIR}/service_bench.cc)
target_link_libraries(service_bench PRIVATE vormel_commands benchmark::benchmark)
