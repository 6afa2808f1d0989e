# libFuzzer targets beside the renderer's: the whole request flow in-process, and the settings
# file's parser. scripts/fuzz.sh runs each on tests/fuzz/corpus/<name>/.
if(VORMEL_BUILD_FUZZ)
  add_executable(request_fuzz ${CMAKE_CURRENT_LIST_DIR}/fuzz/request_fuzz.cc)
  target_link_libraries(request_fuzz PRIVATE vormel_commands vormel_test_support
    renderer_test_support)

  add_executable(ini_fuzz ${CMAKE_CURRENT_LIST_DIR}/fuzz/ini_fuzz.cc)
  target_link_libraries(ini_fuzz PRIVATE vormel_platform)

  foreach(target request_fuzz ini_fuzz)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  endforeach()
endif()
