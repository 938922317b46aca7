// The carrier: the launcher's executable image, then the payload's entry data,
// then a directory of 40-byte records and a signed 16-bit little-endian entry
// count in the last two bytes of the file (see format.h).
#ifndef CARRIER_CARRIER_H
#define CARRIER_CARRIER_H

#include "format.h"
#include "platform.h"

// Copies every sound entry of the carrier at carrierPath into tempDir (which
// ends with a separator), in directory order. Reports nothing. A carrier that
// can't be opened, holds no entries, or whose directory doesn't fit inside
// it extracts nothing.
void ExtractPayload(LPCSTR carrierPath, LPCSTR tempDir);

// Writes one entry of the open carrier, whose size is carrierSize, to tempDir
// joined with the entry's name. A record with an unsafe name, bytes outside
// the carrier or a path too long for MAX_PATH is skipped before any file is
// created or truncated. If the copy fails part way, the output is removed
// rather than left short. Reports nothing.
void ExtractEntry(HFILE carrier, DWORD carrierSize, PayloadEntry entry, LPCSTR tempDir);

#endif
