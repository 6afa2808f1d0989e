vormel_gtest(store_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/store/store_test.cc
  LIBS vormel_commands vormel_test_support
  LABELS "store;concurrency")
