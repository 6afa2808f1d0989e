# Creates an empty Wine prefix at PREFIX and waits until Wine has written it out.
# cmake -DPREFIX=... -DWINE=... -DWINESERVER=... -P make_wine_prefix.cmake
file(REMOVE_RECURSE ${PREFIX})
set(ENV{WINEPREFIX} ${PREFIX})
set(ENV{WINEDEBUG} -all)
# Without a display Wine would try to install Mono and Gecko; the test needs neither.
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=")
execute_process(COMMAND ${WINE} wineboot --init RESULT_VARIABLE booted)
if(WINESERVER)
  execute_process(COMMAND ${WINESERVER} -w)
endif()
if(NOT booted EQUAL 0 OR NOT EXISTS ${PREFIX}/drive_c/windows/system32)
  message(FATAL_ERROR "wineboot could not create the prefix ${PREFIX} (${booted})")
endif()
