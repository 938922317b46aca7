# The shipped i686 launcher, inspected from the Linux build: the win32 preset
# builds it (scripts/test.sh builds win32 before host); the test fails, naming
# the command to run, when it is missing. And the icon it carries must be
# exactly what the drawing script draws.
if(NOT CMAKE_CROSSCOMPILING)
  set(LAUNCHER_WIN32_IMAGE ${PROJECT_SOURCE_DIR}/build/win32/launcher/launcher.exe
      CACHE FILEPATH "The i686 launcher that launcher_image_test inspects")

  # The inspection needs python3-pefile, which Debian installs for the system
  # interpreter: prefer that one over whatever python3 comes first on PATH.
  set(launcher_pefile_python "")
  foreach(candidate /usr/bin/python3 python3)
    find_program(found_python ${candidate} NO_CACHE)
    if(found_python)
      execute_process(COMMAND ${found_python} -c "import pefile"
        RESULT_VARIABLE no_pefile OUTPUT_QUIET ERROR_QUIET)
      if(no_pefile EQUAL 0)
        set(launcher_pefile_python ${found_python})
        break()
      endif()
    endif()
    unset(found_python)
  endforeach()
  if(NOT launcher_pefile_python)
    # Registered all the same: the script names the missing package.
    find_program(launcher_pefile_python python3 NO_CACHE REQUIRED)
  endif()

  add_test(NAME launcher_image_test
    COMMAND ${launcher_pefile_python} ${CMAKE_CURRENT_SOURCE_DIR}/launcher_image_test.py
            ${LAUNCHER_WIN32_IMAGE} ${PROJECT_SOURCE_DIR}/launcher/resources/launcher.ico)
  add_test(NAME launcher_icon_test
    COMMAND ${launcher_pefile_python} ${PROJECT_SOURCE_DIR}/launcher/resources/draw_icon.py
            --check ${PROJECT_SOURCE_DIR}/launcher/resources/launcher.ico)
endif()
