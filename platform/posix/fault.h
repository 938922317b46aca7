// Fault injection and resource accounting for the emulated services.
//
// Test builds (PLATFORM_FAULTS defined) count every call to a service that can
// fail; a test arms the Nth such call to fail, once or from then on, and the
// service then fails the way Windows documents it (its failure value and last
// error). Calls that only release what was taken (_lclose, GlobalUnlock,
// GlobalFree, RegCloseKey, DeleteFileA) are not fault points: a caller can do
// nothing about them, and failing them would only fake a leak. Open file
// handles, memory blocks and registry keys are counted so a test can prove
// that a run released everything it took.
//
// In other builds every hook compiles to nothing.
#ifndef PLATFORM_POSIX_FAULT_H
#define PLATFORM_POSIX_FAULT_H

#include "os.h"

enum PlatformResource { RESOURCE_FILE, RESOURCE_BLOCK, RESOURCE_KEY, RESOURCE_KINDS };

#ifdef PLATFORM_FAULTS

// Arms the nth fault point counted from now (1 is the next call); 0 disarms.
// With persistent set, every fault point from the nth on fails.
void PlatformFaultArm(unsigned long nth, BOOL persistent);
// Fault points passed since the last arm, and whether one has failed.
unsigned long PlatformFaultCalls(void);
BOOL PlatformFaultFired(void);
// Resources of a kind taken and not yet released.
long PlatformResourcesHeld(enum PlatformResource kind);

// For the services: TRUE when this call must fail. Sets the last error.
BOOL FaultPoint(DWORD error);
void ResourceTaken(enum PlatformResource kind);
void ResourceReleased(enum PlatformResource kind);

#else

static inline BOOL FaultPoint(DWORD) { return FALSE; }
static inline void ResourceTaken(enum PlatformResource) {}
static inline void ResourceReleased(enum PlatformResource) {}

#endif

#endif
