# The request frame, driven through server classes of the tests' own.
vormel_gtest(frame_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/extension/frame_test.cc
          ${CMAKE_CURRENT_LIST_DIR}/extension/exports_test.cc
  LIBS vormel_exports vormel_frame vormel_test_support
  LABELS frame)
