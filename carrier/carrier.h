// The carrier: the launcher's executable image, then the payload's entry data,
// then a directory of 40-byte records and a signed 16-bit little-endian entry
// count in the last two bytes of the file.
#ifndef CARRIER_CARRIER_H
#define CARRIER_CARRIER_H

#include "platform.h"

// Copies every sound entry of the carrier at carrierPath into tempDir (which
// ends with a separator), in directory order. Reports nothing.
void ExtractPayload(LPCSTR carrierPath, LPCSTR tempDir);

#endif
