# The Windows backend's own behaviour, against the real services under Wine.
if(PLATFORM_BACKEND STREQUAL "win")
  launcher_test(NAME platform_win_open_test SOURCES platform_win_open_test.cpp WINE)
endif()
