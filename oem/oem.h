// The OEM report: the code taken from the carrier's file name, or the repeat
// code once the per-user marker key exists, written to "Analysis.ini".
#ifndef OEM_OEM_H
#define OEM_OEM_H

#include "platform.h"

// Decides the OEM code, creates the marker key on a first run and writes
// section "Setup" of tempDir's "Analysis.ini". Reports nothing.
void WriteOemReport(LPCSTR launcherPath, LPCSTR tempDir);

#endif
