add_library(vormel_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/support/fake_request.cc
  ${CMAKE_CURRENT_LIST_DIR}/support/temp_home.cc)
target_link_libraries(vormel_test_support PUBLIC vormel_platform)
