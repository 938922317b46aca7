// Test hook for GetModuleFileNameA's own path.
#ifndef PLATFORM_POSIX_MODULE_H
#define PLATFORM_POSIX_MODULE_H

#include "os.h"

#ifdef PLATFORM_FAULTS
// Test builds: the path GetModuleFileNameA gives for the running executable
// instead of /proc/self/exe; NULL restores it. Lets a test run the whole
// launch sequence in its own process over a carrier file it made.
void PlatformSetModulePath(LPCSTR path);
#endif

#endif
