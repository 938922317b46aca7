# End-to-end runs of the launcher: on Linux against the emulation, and the
# x86_64 Windows build under Wine against the real services.
if(PLATFORM_BACKEND STREQUAL "posix")
  launcher_test(NAME launcher_e2e_test SOURCES launcher_e2e_test.cpp)
  target_compile_definitions(launcher_e2e_test PRIVATE
    LAUNCHER_EXE="$<TARGET_FILE:launcher>" CARRIER_TOOL="$<TARGET_FILE:carrier>")
  add_dependencies(launcher_e2e_test launcher carrier)
else()
  add_executable(setup_stub e2e/setup_stub.cpp)
  launcher_test(NAME launcher_wine_test SOURCES launcher_wine_test.cpp WINE)
  target_compile_definitions(launcher_wine_test PRIVATE
    LAUNCHER_EXE="$<TARGET_FILE:launcher>" CARRIER_TOOL_EXE="$<TARGET_FILE:carrier>"
    SETUP_STUB_EXE="$<TARGET_FILE:setup_stub>")
  add_dependencies(launcher_wine_test launcher carrier setup_stub)
endif()
