# Prepares or releases the tests' Wine prefix; run by the wine_prefix fixture
# with WINEPREFIX, WINEDEBUG and WINEDLLOVERRIDES in the environment.
#   cmake -DWINE=<wine64> -DWINESERVER=<wineserver> -DACTION=start|stop -P WinePrefix.cmake
#
# start: starts the prefix's wineserver, kept alive for a minute after its
# last client so the tests that follow find it running, then creates or
# updates the prefix (a no-op when it is current). Headless: wineboot needs no
# display when the Mono and Gecko installers are switched off.
# stop: ends the wineserver and every process still running in the prefix.
if(NOT DEFINED ENV{WINEPREFIX})
  message(FATAL_ERROR "WINEPREFIX is not set")
endif()

# Wine's background processes (the server, services.exe and the like) outlive
# the commands that start them and keep their standard streams: given pipes,
# this script and CTest would wait for them to end. They write to a log file.
set(log "$ENV{WINEPREFIX}.log")

if(ACTION STREQUAL "start")
  file(MAKE_DIRECTORY $ENV{WINEPREFIX})
  # A server already running for this prefix is as good as a new one, so the
  # result is not checked; wineboot below fails if there is none.
  execute_process(COMMAND ${WINESERVER} -p60 INPUT_FILE /dev/null OUTPUT_FILE ${log} ERROR_FILE ${log})
  execute_process(COMMAND ${WINE} wineboot --init
    INPUT_FILE /dev/null OUTPUT_FILE ${log} ERROR_FILE ${log} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    file(READ ${log} output)
    message(FATAL_ERROR "wineboot --init failed (${result}) for $ENV{WINEPREFIX}:\n${output}")
  endif()
elseif(ACTION STREQUAL "stop")
  execute_process(COMMAND ${WINESERVER} -k INPUT_FILE /dev/null OUTPUT_FILE ${log} ERROR_FILE ${log})
else()
  message(FATAL_ERROR "ACTION must be start or stop")
endif()
