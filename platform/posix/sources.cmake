set(PLATFORM_SOURCES
  posix/fault.cpp
)
set(PLATFORM_ENTRY_SOURCES posix/entry.cpp)
set(PLATFORM_LIBRARIES)
