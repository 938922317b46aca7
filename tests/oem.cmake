# The OEM report. The file-name table and the report cases also run against
# the real services under Wine; fault injection exists only in the emulation.
launcher_test(NAME oem_file_name_test SOURCES oem_file_name_test.cpp LIBS oem_core WINE)
launcher_test(NAME oem_report_test SOURCES oem_report_test.cpp LIBS oem_core WINE)
launcher_test(NAME oem_fault_test SOURCES oem_fault_test.cpp LIBS oem_core)
if(PLATFORM_BACKEND STREQUAL "win")
  launcher_test(NAME oem_marker_volatile_test SOURCES oem_marker_volatile_test.cpp
    LIBS oem_core WINE)
endif()

# The real services take the ANSI code page from the locale once, when the
# process starts (the emulation follows LC_ALL at every call, so one run
# covers every row there). Under Wine the file-name table therefore runs once
# per code page, each run limited to the rows of its code page plus the ASCII
# rows; a row skipped for the wrong code page fails the run.
if(PLATFORM_BACKEND STREQUAL "win")
  get_test_property(oem_file_name_test ENVIRONMENT wine_environment)
  get_test_property(oem_file_name_test FIXTURES_REQUIRED wine_fixtures)
  set(oem_code_pages
    "1252|C.UTF-8|*-*Cp936*:*Cp932*"
    "936|zh_CN.GBK|*AnyCodePage*:*Cp936*"
    "932|ja_JP.SJIS|*AnyCodePage*:*Cp932*")
  foreach(entry IN LISTS oem_code_pages)
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 code_page)
    list(GET entry 1 locale)
    list(GET entry 2 filter)
    if(code_page STREQUAL "1252")
      set(name oem_file_name_test)
    else()
      set(name oem_file_name_test_cp${code_page})
      add_test(NAME ${name} COMMAND oem_file_name_test)
    endif()
    set_tests_properties(${name} PROPERTIES
      ENVIRONMENT "${wine_environment};LC_ALL=${locale};GTEST_FILTER=${filter}"
      FAIL_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
    if(wine_fixtures)
      set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${wine_fixtures}")
    endif()
  endforeach()
  set_property(TEST oem_report_test APPEND PROPERTY ENVIRONMENT "LC_ALL=C.UTF-8")
endif()
