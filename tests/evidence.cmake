# Evidence for the launcher's reliability: the whole launch sequence with
# each service call failed in turn, launchers run at once on one carrier, and
# the fuzz target's kept inputs replayed in the ordinary sanitized build.
# Linux only: they need the emulation's fault injection and resource counts.
# The benchmark and the long fuzz run live under bench/, outside CI. The
# core libraries and the helpers (test_support) call the services, so they
# come before them on the link line.
if(PLATFORM_BACKEND STREQUAL "posix")
  launcher_test(NAME evidence_fault_sweep_test SOURCES evidence_fault_sweep_test.cpp
    LIBS launcher_core carrier_core carrier_format oem_core test_support)
  launcher_test(NAME evidence_concurrency_test SOURCES evidence_concurrency_test.cpp
    LIBS test_support)
  target_compile_definitions(evidence_concurrency_test PRIVATE LAUNCHER_EXE="$<TARGET_FILE:launcher>")
  add_dependencies(evidence_concurrency_test launcher)
  launcher_test(NAME evidence_fuzz_inputs_test
    SOURCES evidence_fuzz_inputs_test.cpp fuzz/carrier_fuzz.cpp
    LIBS carrier_core carrier_format test_support)
  target_compile_definitions(evidence_fuzz_inputs_test PRIVATE
    FUZZ_INPUTS="${CMAKE_CURRENT_SOURCE_DIR}/fuzz")
endif()
