# The built Vormel.so and Kandri.so, loaded and driven as the web server would.
vormel_gtest(module_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/module/module_test.cc
  LIBS vormel_test_support ${CMAKE_DL_LIBS}
  LABELS module)
add_dependencies(module_test Vormel Kandri)
