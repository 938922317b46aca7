set(PLATFORM_SOURCES
  win/file.cpp
)
set(PLATFORM_ENTRY_SOURCES win/entry.cpp)
set(PLATFORM_LIBRARIES advapi32)
