# The registry, profile and program-start services. The registry and profile
# contracts also run against the real services under Wine.
launcher_test(NAME platform_registry_test SOURCES platform_registry_test.cpp WINE)
launcher_test(NAME platform_profile_test SOURCES platform_profile_test.cpp WINE)

# WinExec is the emulation's own; its tests start copies of a probe program.
if(NOT PLATFORM_BACKEND STREQUAL "win")
  add_executable(platform_exec_probe platform_exec_probe.cpp)
  launcher_test(NAME platform_exec_test SOURCES platform_exec_test.cpp)
  add_dependencies(platform_exec_test platform_exec_probe)
  target_compile_definitions(platform_exec_test PRIVATE
    EXEC_PROBE_PATH="$<TARGET_FILE:platform_exec_probe>")
endif()
