# launcher_test(NAME <name> SOURCES <files...> [LIBS <targets...>] [WINE])
#
# Host builds: a GoogleTest executable linked with the fault-injecting
# emulation (platform_faulty), registered with CTest.
# Windows builds: only tests marked WINE are built; they link the real
# services (platform) and run under the crosscompiling emulator (wine64), in
# a Wine prefix of the build directory that the wine_prefix fixture prepares.

if(NOT TARGET GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING)
    # GoogleTest from source, built by the cross compiler.
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    if(NOT TARGET GTest::gtest_main)
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
endif()

if(NOT TARGET test_support)
  file(GLOB TEST_SUPPORT_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/support/*.cpp)
  add_library(test_support STATIC ${TEST_SUPPORT_SOURCES})
  target_include_directories(test_support PUBLIC ${PROJECT_SOURCE_DIR}/tests/support)
  target_link_libraries(test_support PUBLIC GTest::gtest platform_api)
endif()

# The Wine prefix the Windows tests share. The fixture creates it once, before
# any test, so parallel tests never race to create it, and starts one
# wineserver for the whole run (each test would otherwise pay for starting
# one). The cleanup stops that server and whatever the tests left running in
# the prefix. Wine's debug channels are silenced; the Mono and Gecko
# installers are never offered, since no test needs them and they would want a
# display.
if(PLATFORM_BACKEND STREQUAL "win" AND NOT TEST wine_prefix)
  get_filename_component(wine_dir "${CMAKE_CROSSCOMPILING_EMULATOR}" DIRECTORY)
  set(LAUNCHER_WINE_ENVIRONMENT
    "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix"
    "WINEDEBUG=-all"
    "WINEDLLOVERRIDES=mscoree,mshtml="
    "WINESERVER=${wine_dir}/wineserver")
  add_test(NAME wine_prefix
    COMMAND ${CMAKE_COMMAND} -DWINE=${CMAKE_CROSSCOMPILING_EMULATOR}
            -DWINESERVER=${wine_dir}/wineserver -DACTION=start
            -P ${CMAKE_CURRENT_LIST_DIR}/WinePrefix.cmake)
  add_test(NAME wine_prefix_cleanup
    COMMAND ${CMAKE_COMMAND} -DWINE=${CMAKE_CROSSCOMPILING_EMULATOR}
            -DWINESERVER=${wine_dir}/wineserver -DACTION=stop
            -P ${CMAKE_CURRENT_LIST_DIR}/WinePrefix.cmake)
  set_tests_properties(wine_prefix PROPERTIES
    FIXTURES_SETUP wine_prefix ENVIRONMENT "${LAUNCHER_WINE_ENVIRONMENT}" TIMEOUT 300)
  set_tests_properties(wine_prefix_cleanup PROPERTIES
    FIXTURES_CLEANUP wine_prefix ENVIRONMENT "${LAUNCHER_WINE_ENVIRONMENT}" TIMEOUT 60)
endif()

function(launcher_test)
  cmake_parse_arguments(T "WINE" "NAME" "SOURCES;LIBS" ${ARGN})
  if(PLATFORM_BACKEND STREQUAL "win" AND NOT T_WINE)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  if(PLATFORM_BACKEND STREQUAL "win")
    set(services platform)
  else()
    set(services platform_faulty)
  endif()
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} ${services} test_support GTest::gtest_main)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(PLATFORM_BACKEND STREQUAL "win")
    set_tests_properties(${T_NAME} PROPERTIES
      ENVIRONMENT "${LAUNCHER_WINE_ENVIRONMENT}"
      FIXTURES_REQUIRED wine_prefix)
  endif()
endfunction()
