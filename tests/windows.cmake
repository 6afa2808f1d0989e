# The Windows build's test: wine_test.exe drives Vormel.dll through LoadLibraryA and its
# exports. CTest runs it under Wine, in a Wine prefix the build tree owns and recreates.
if(NOT WIN32)
  return()
endif()

add_executable(wine_test windows/wine_test.cc)
# Decodes the module's images with the same giflib the renderer is built from.
target_link_libraries(wine_test PRIVATE GIF::GIF)
add_dependencies(wine_test Vormel Kandri)

# The archive holds what INSTALL.txt describes.
add_test(NAME windows.package
  COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target package-windows)
add_test(NAME windows.package_contents
  COMMAND ${CMAKE_COMMAND} -DZIP=${CMAKE_BINARY_DIR}/vormel-windows-x64.zip
    -P ${CMAKE_CURRENT_SOURCE_DIR}/windows/check_package.cmake)
set_tests_properties(windows.package PROPERTIES FIXTURES_SETUP package LABELS windows)
set_tests_properties(windows.package_contents PROPERTIES FIXTURES_REQUIRED package LABELS windows)

find_program(VORMEL_WINE NAMES wine64 wine HINTS /usr/lib/wine
  DOC "Wine loader for 64-bit programs, to run the Windows test")
if(NOT VORMEL_WINE)
  message(STATUS "Wine not found: the Windows test is built but not registered with CTest")
  return()
endif()
get_filename_component(wine_dir ${VORMEL_WINE} DIRECTORY)
find_program(VORMEL_WINESERVER NAMES wineserver64 wineserver HINTS ${wine_dir} /usr/lib/wine)

set(wine_prefix ${CMAKE_BINARY_DIR}/wine-prefix)
set(wine_env WINEPREFIX=${wine_prefix} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=)
# A fresh prefix for every run: its system directory must not hold an earlier run's settings.
add_test(NAME windows.wine_prefix
  COMMAND ${CMAKE_COMMAND}
    -DPREFIX=${wine_prefix} -DWINE=${VORMEL_WINE} -DWINESERVER=${VORMEL_WINESERVER}
    -P ${CMAKE_CURRENT_SOURCE_DIR}/windows/make_wine_prefix.cmake)
set_tests_properties(windows.wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix LABELS windows)

add_test(NAME windows.wine_test
  COMMAND ${CMAKE_COMMAND} -E env ${wine_env} ${VORMEL_WINE} $<TARGET_FILE:wine_test>)
set_tests_properties(windows.wine_test PROPERTIES FIXTURES_REQUIRED wine_prefix LABELS windows
  TIMEOUT 240)
