set(PLATFORM_SOURCES
  win/file.cpp
)
# The process entry, and the memory routines the compiler may call: both go
# only into the launcher, which links no C runtime.
set(PLATFORM_ENTRY_SOURCES win/entry.cpp win/memory.cpp)
set_source_files_properties(win/memory.cpp PROPERTIES
  COMPILE_OPTIONS "-fno-tree-loop-distribute-patterns;-fno-builtin")
set(PLATFORM_LIBRARIES advapi32)
