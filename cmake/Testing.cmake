# launcher_test(NAME <name> SOURCES <files...> [LIBS <targets...>] [WINE])
#
# Host builds: a GoogleTest executable linked with the fault-injecting
# emulation (platform_faulty), registered with CTest.
# Windows builds: only tests marked WINE are built; they link the real
# services (platform) and run under the crosscompiling emulator (wine64).

if(NOT TARGET GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
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
      ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all"
      FIXTURES_REQUIRED wine_prefix)
  endif()
endfunction()
