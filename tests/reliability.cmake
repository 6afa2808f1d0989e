# Reliability: bad input through the whole request flow in-process, and load, faults and
# hostile clients against a running vormel-host on loopback.
set(reliability_dir ${CMAKE_CURRENT_LIST_DIR}/reliability)

vormel_gtest(bad_input_test
  SOURCES ${reliability_dir}/bad_input_test.cc
  LIBS vormel_commands vormel_test_support renderer_test_support
  LABELS reliability)

add_library(reliability_support STATIC ${reliability_dir}/reliability_support.cc
  ${CMAKE_CURRENT_LIST_DIR}/host/host_process.cc)
target_link_libraries(reliability_support PUBLIC vormel_platform)
target_compile_definitions(reliability_support PRIVATE VORMEL_HOST_PATH="$<TARGET_FILE:vormel-host>")

vormel_gtest(load_fault_test SERIAL
  SOURCES ${reliability_dir}/load_fault_test.cc
  LIBS reliability_support Threads::Threads
  LABELS reliability host)
vormel_gtest(hostile_clients_test SERIAL
  SOURCES ${reliability_dir}/hostile_clients_test.cc
  LIBS reliability_support Threads::Threads
  LABELS reliability host)
foreach(test load_fault_test hostile_clients_test)
  add_dependencies(${test} vormel-host Vormel Kandri)
endforeach()
