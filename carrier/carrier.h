// The carrier: the launcher's executable image, then the payload's entry data,
// then a directory of 40-byte records and a signed 16-bit little-endian entry
// count in the last two bytes of the payload (see format.h). The payload ends
// at the end of the file, or where a signed carrier's certificate table
// starts (see signature.h).
#ifndef CARRIER_CARRIER_H
#define CARRIER_CARRIER_H

#include "format.h"
#include "platform.h"

// Copies every sound entry of the carrier at carrierPath into tempDir (which
// ends with a separator), in directory order. Reports nothing. A carrier that
// can't be opened or whose header can't be read, holds no entries, or whose
// directory doesn't fit inside its payload extracts nothing.
void ExtractPayload(LPCSTR carrierPath, LPCSTR tempDir);

// Writes one entry of the open carrier, whose payload ends at payloadEnd, to
// tempDir joined with the entry's name. A record with an unsafe name, bytes
// outside the payload or a path too long for MAX_PATH is skipped before any
// file is created: in a signed carrier the bytes past the payload are the
// certificate table, never an entry's. The entry is copied into a temporary
// file in tempDir and replaces the file of its name only once it is whole;
// if the copy or the replacement fails, the temporary file is deleted and
// an older file of that name stays as it was. Reports nothing.
void ExtractEntry(HFILE carrier, DWORD payloadEnd, PayloadEntry entry, LPCSTR tempDir);

#endif
