# Checks that ZIP holds exactly the files INSTALL.txt lists.
# cmake -DZIP=... -P check_package.cmake
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${ZIP} OUTPUT_VARIABLE listing
  RESULT_VARIABLE listed)
if(NOT listed EQUAL 0)
  message(FATAL_ERROR "cannot list ${ZIP}")
endif()
string(REPLACE "\n" ";" entries "${listing}")
list(FILTER entries EXCLUDE REGEX "^$")
list(SORT entries)
set(expected INSTALL.txt Kandri.dll Vormel.dll vormel.ini)
if(NOT entries STREQUAL expected)
  message(FATAL_ERROR "${ZIP} holds '${entries}', expected '${expected}'")
endif()
