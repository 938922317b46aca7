# The carrier format, extraction and the vendor tool.
launcher_test(NAME carrier_format_test SOURCES carrier_format_test.cpp LIBS carrier_format)
launcher_test(NAME carrier_extract_test SOURCES carrier_extract_test.cpp LIBS carrier_core WINE)
launcher_test(NAME carrier_malformed_test SOURCES carrier_malformed_test.cpp LIBS carrier_core WINE)
launcher_test(NAME carrier_tool_test SOURCES carrier_tool_test.cpp LIBS carrier_core WINE)
launcher_test(NAME carrier_signed_test SOURCES carrier_signed_test.cpp LIBS carrier_core WINE)
launcher_test(NAME carrier_pack_test SOURCES carrier_pack_test.cpp)
launcher_test(NAME carrier_check_test SOURCES carrier_check_test.cpp)
foreach(t carrier_tool_test carrier_pack_test carrier_check_test)
  if(TARGET ${t})
    target_compile_definitions(${t} PRIVATE CARRIER_TOOL="$<TARGET_FILE:carrier>")
    add_dependencies(${t} carrier)
  endif()
endforeach()

if(PLATFORM_BACKEND STREQUAL "posix")
  launcher_test(NAME carrier_faults_test SOURCES carrier_faults_test.cpp LIBS carrier_core)

  # Extraction in a process of its own, so its peak memory can be measured.
  add_executable(carrier_extract_probe carrier_extract_probe.cpp)
  target_link_libraries(carrier_extract_probe PRIVATE carrier_core platform)
  launcher_test(NAME carrier_large_test SOURCES carrier_large_test.cpp)
  target_compile_definitions(carrier_large_test PRIVATE CARRIER_PROBE="$<TARGET_FILE:carrier_extract_probe>")
  add_dependencies(carrier_large_test carrier_extract_probe)
endif()

# A carrier packed, code-signed with osslsigncode and used: on Linux the
# shipped i686 launcher image, extracted through the emulation (the win32
# preset builds the image; scripts/test.sh builds it before host); under Wine
# the x86_64 launcher, run as a user would run it.
if(PLATFORM_BACKEND STREQUAL "posix")
  if(DEFINED LAUNCHER_WIN32_IMAGE)
    set(carrier_signed_image ${LAUNCHER_WIN32_IMAGE})
  else()
    set(carrier_signed_image ${PROJECT_SOURCE_DIR}/build/win32/launcher/launcher.exe)
  endif()
  add_test(NAME carrier_signed_osslsigncode_test
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/carrier_signed.sh host
            $<TARGET_FILE:carrier> $<TARGET_FILE:carrier_extract_probe> ${carrier_signed_image})
else()
  add_test(NAME carrier_signed_wine_test
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/carrier_signed.sh wine ${CMAKE_CROSSCOMPILING_EMULATOR}
            $<TARGET_FILE:carrier> $<TARGET_FILE:launcher> $<TARGET_FILE:setup_stub>)
  set_tests_properties(carrier_signed_wine_test PROPERTIES
    ENVIRONMENT "${LAUNCHER_WINE_ENVIRONMENT}" FIXTURES_REQUIRED wine_prefix)
endif()

if(LAUNCHER_FUZZ)
  add_subdirectory(fuzz)
endif()
