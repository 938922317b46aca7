// Test hook for GetTempPathA's private per-user directory.
#ifndef PLATFORM_POSIX_TEMPDIR_H
#define PLATFORM_POSIX_TEMPDIR_H

#include "os.h"

#ifdef PLATFORM_FAULTS
// Test builds: the shared directory under which GetTempPathA keeps the
// private per-user directory when TMPDIR is not set; NULL restores "/tmp".
// Lets a test plant a hostile directory there without touching the real one.
void PlatformSetTempRoot(LPCSTR root);
#endif

#endif
