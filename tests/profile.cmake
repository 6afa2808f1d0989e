# The settings file layer: its text rules, and the files it replaces on disk.
vormel_gtest(profile_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/profile/ini_text_test.cc
          ${CMAKE_CURRENT_LIST_DIR}/profile/profile_file_test.cc
  LIBS vormel_platform
  LABELS profile concurrency)
