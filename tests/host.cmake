# The HTTP host: the request-block mapping against a fake module, and the running program.
set(host_test_dir ${CMAKE_CURRENT_LIST_DIR}/host)

# A module whose behaviour each request picks, so the host's mapping is tested on its own.
add_library(host_fake_module MODULE ${host_test_dir}/fake_module.cc)
add_library(host_fake_module_incomplete MODULE ${host_test_dir}/fake_module.cc)
target_compile_definitions(host_fake_module_incomplete PRIVATE FAKE_MODULE_WITHOUT_TERMINATE)
foreach(fake host_fake_module host_fake_module_incomplete)
  set_target_properties(${fake} PROPERTIES PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/host)
  # GNU unique symbols (from inline statics) would keep dlclose from unloading the module.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${fake} PRIVATE -fno-gnu-unique)
  endif()
endforeach()

set(host_test_paths
  FAKE_MODULE_PATH="$<TARGET_FILE:host_fake_module>"
  FAKE_MODULE_INCOMPLETE_PATH="$<TARGET_FILE:host_fake_module_incomplete>"
  VORMEL_HOST_PATH="$<TARGET_FILE:vormel-host>"
  VORMEL_HOST_BIN_DIR="$<TARGET_FILE_DIR:vormel-host>"
  VORMEL_HOST_VERSION_TEXT="${PROJECT_VERSION}")

vormel_gtest(host_unit_test
  SOURCES ${host_test_dir}/request_block_test.cc
          ${host_test_dir}/module_loader_test.cc
          ${host_test_dir}/access_log_test.cc
          ${host_test_dir}/options_test.cc
          ${host_test_dir}/first_run_test.cc
  LIBS vormel_host_core
  LABELS host)
target_compile_definitions(host_unit_test PRIVATE ${host_test_paths})
add_dependencies(host_unit_test host_fake_module host_fake_module_incomplete)

vormel_gtest(host_integration_test
  SOURCES ${host_test_dir}/host_integration_test.cc ${host_test_dir}/host_process.cc
  LIBS Threads::Threads
  LABELS host concurrency)
target_compile_definitions(host_integration_test PRIVATE ${host_test_paths})
add_dependencies(host_integration_test vormel-host host_fake_module)
