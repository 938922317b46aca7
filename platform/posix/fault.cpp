// Fault injection and resource accounting (test builds only); see fault.h.
// One thread runs the launcher, so plain counters suffice; tests that run
// launchers concurrently do so in separate processes.
#include "fault.h"

#ifdef PLATFORM_FAULTS

static unsigned long fault_calls;
static unsigned long fault_nth;
static BOOL fault_persistent;
static BOOL fault_fired;
static long resources_held[RESOURCE_KINDS];

void PlatformFaultArm(unsigned long nth, BOOL persistent)
{
    fault_calls = 0;
    fault_nth = nth;
    fault_persistent = persistent;
    fault_fired = FALSE;
}

unsigned long PlatformFaultCalls(void) { return fault_calls; }

BOOL PlatformFaultFired(void) { return fault_fired; }

long PlatformResourcesHeld(enum PlatformResource kind) { return resources_held[kind]; }

BOOL FaultPoint(DWORD error)
{
    fault_calls++;
    if (fault_nth == 0)
        return FALSE;
    if (fault_calls == fault_nth || (fault_persistent && fault_calls > fault_nth)) {
        fault_fired = TRUE;
        SetLastError(error);
        return TRUE;
    }
    return FALSE;
}

void ResourceTaken(enum PlatformResource kind) { resources_held[kind]++; }

void ResourceReleased(enum PlatformResource kind) { resources_held[kind]--; }

#endif
