# The service manager in Debian's chromium, driven by playwright-core, against vormel-host.
find_program(NODE node)
find_program(NPM npm)
find_program(CHROMIUM chromium)
if(NODE AND NPM AND CHROMIUM)
  set(browser_dir ${CMAKE_CURRENT_LIST_DIR}/browser)
  # npm ci only when node_modules is missing, so runs after the first stay offline.
  add_test(NAME browser_manager
    COMMAND sh -c "[ -d node_modules/playwright-core ] || ${NPM} ci --no-audit --no-fund \
&& exec ${NODE} manager.test.mjs"
    WORKING_DIRECTORY ${browser_dir})
  set_tests_properties(browser_manager PROPERTIES
    ENVIRONMENT "VORMEL_BUILD_BIN=${CMAKE_BINARY_DIR}/bin"
    LABELS browser TIMEOUT 300)
else()
  message(STATUS "node, npm or chromium missing: browser_manager is not registered")
endif()
