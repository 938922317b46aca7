# The platform services: the Windows contract (also run under Wine against
# the real services) and what the POSIX emulation adds to it.
launcher_test(NAME platform_files_test SOURCES platform_files_test.cpp WINE)
launcher_test(NAME platform_move_test SOURCES platform_move_test.cpp WINE)
launcher_test(NAME platform_memory_test SOURCES platform_memory_test.cpp WINE)
launcher_test(NAME platform_strings_test SOURCES platform_strings_test.cpp WINE)
launcher_test(NAME platform_module_test SOURCES platform_module_test.cpp WINE)
if(PLATFORM_BACKEND STREQUAL "posix")
  launcher_test(NAME platform_files_posix_test SOURCES platform_files_posix_test.cpp)
  launcher_test(NAME platform_tempdir_test SOURCES platform_tempdir_test.cpp)
  launcher_test(NAME platform_codepage_test SOURCES platform_codepage_test.cpp)
endif()
