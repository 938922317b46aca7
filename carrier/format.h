// The carrier's layout and the rules a record must meet before anything is
// written for it. The launcher and the vendor tool both use these procedures,
// so what the tool packs and checks is exactly what the launcher extracts.
//
// Layout, all integers little-endian:
//   executable image | entry data | directory: count x 40-byte records | count
// The count is a signed 16-bit value in the last two bytes before the payload
// end; the directory lies directly before it. The payload end is the end of
// the file, or in a signed carrier the start of its certificate table (see
// signature.h); nothing else points at the directory.
#ifndef CARRIER_FORMAT_H
#define CARRIER_FORMAT_H

#include "platform.h"

#define PAYLOAD_ENTRY_BYTES 40
#define PAYLOAD_NAME_BYTES 32
#define PAYLOAD_COUNT_BYTES 2
// The count is signed: 0x8000 and above read as negative, i.e. empty.
#define PAYLOAD_MAX_ENTRIES 32767
// Positions and lengths go to services that take signed 32-bit values, so a
// carrier is smaller than 2 GiB.
#define CARRIER_MAX_BYTES 0x7FFFFFFFu

// One directory record, decoded. The name is kept as its raw 32 bytes; only
// PayloadNameIsSafe says whether it is a usable, terminated name.
struct PayloadEntry {
    DWORD offset;
    DWORD size;
    CHAR name[PAYLOAD_NAME_BYTES];
};

void DecodePayloadEntry(const BYTE *record, PayloadEntry *entry);
void EncodePayloadEntry(const PayloadEntry *entry, BYTE *record);

// The stored count as the launcher reads it: signed, so below 1 means empty.
int DecodeEntryCount(const BYTE *bytes);
void EncodeEntryCount(int count, BYTE *bytes);

// Where the directory of count records starts when the payload ends at
// payloadEnd. FALSE when count is below 1 or above PAYLOAD_MAX_ENTRIES, or
// when the directory and the count would not fit in front of payloadEnd.
BOOL LocateDirectory(DWORD payloadEnd, int count, DWORD *directoryStart);

// TRUE when the entry's bytes lie wholly before limit (offset + size <=
// limit, without overflow). The launcher passes the payload end; the tool
// also passes the directory start, since a packed entry never reaches into it.
BOOL EntryFitsBefore(const PayloadEntry *entry, DWORD limit);

// TRUE when name is a terminated, non-empty, relative name that stays inside
// the directory it is joined to: its NUL lies within the 32 bytes, it holds
// no ':' (a drive or another data stream), it does not start with '\' or '/',
// and no component is ".", ".." or otherwise made only of dots and spaces
// (Windows drops trailing dots and spaces, so ".. " would walk up as well).
// A subdirectory part ("sub\file") is allowed.
BOOL PayloadNameIsSafe(const CHAR *name);

#endif
