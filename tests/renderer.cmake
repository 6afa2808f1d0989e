# Renderer tests: the parameter language, the images (decoded with giflib) and Counter2's rules.
add_library(renderer_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/renderer/gif_decode.cc)
target_link_libraries(renderer_test_support PUBLIC kandri_core)

vormel_gtest(renderer_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/renderer/params_test.cc
    ${CMAKE_CURRENT_LIST_DIR}/renderer/image_test.cc
    ${CMAKE_CURRENT_LIST_DIR}/renderer/lzw_segments_test.cc
    ${CMAKE_CURRENT_LIST_DIR}/renderer/spliced_image_test.cc
    ${CMAKE_CURRENT_LIST_DIR}/renderer/request_test.cc
    ${CMAKE_SOURCE_DIR}/renderer/kandri.cc
  LIBS renderer_test_support kandri_core Threads::Threads
  LABELS renderer concurrency)

if(VORMEL_BUILD_FUZZ)
  add_executable(renderer_fuzz ${CMAKE_CURRENT_LIST_DIR}/fuzz/renderer_fuzz.cc)
  target_link_libraries(renderer_fuzz PRIVATE renderer_test_support kandri_core)
  target_compile_options(renderer_fuzz PRIVATE -fsanitize=fuzzer)
  target_link_options(renderer_fuzz PRIVATE -fsanitize=fuzzer)
endif()
