# The service manager: page bytes and maintenance rules, against a real server object.
vormel_gtest(manager_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/manager/manager_fixture.cc
          ${CMAKE_CURRENT_LIST_DIR}/manager/name_rules_test.cc
          ${CMAKE_CURRENT_LIST_DIR}/manager/service_page_test.cc
          ${CMAKE_CURRENT_LIST_DIR}/manager/maintenance_test.cc
  LIBS vormel_commands vormel_test_support
  LABELS manager)

# Page walks beside changes; run under TSan too.
vormel_gtest(manager_concurrency_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/manager/manager_fixture.cc
          ${CMAKE_CURRENT_LIST_DIR}/manager/concurrency_test.cc
  LIBS vormel_commands vormel_test_support
  LABELS manager concurrency)
