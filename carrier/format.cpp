// The carrier's layout rules; see format.h. Pure byte arithmetic, no
// services: the vendor tool links this file without the platform.
#include "format.h"

static DWORD DecodeDword(const BYTE *bytes)
{
    return (DWORD)bytes[0] | (DWORD)bytes[1] << 8 | (DWORD)bytes[2] << 16 | (DWORD)bytes[3] << 24;
}

static void EncodeDword(DWORD value, BYTE *bytes)
{
    bytes[0] = (BYTE)(value & 0xFF);
    bytes[1] = (BYTE)(value >> 8 & 0xFF);
    bytes[2] = (BYTE)(value >> 16 & 0xFF);
    bytes[3] = (BYTE)(value >> 24 & 0xFF);
}

void DecodePayloadEntry(const BYTE *record, PayloadEntry *entry)
{
    int i;

    entry->offset = DecodeDword(record);
    entry->size = DecodeDword(record + 4);
    for (i = 0; i < PAYLOAD_NAME_BYTES; i++)
        entry->name[i] = (CHAR)record[8 + i];
}

void EncodePayloadEntry(const PayloadEntry *entry, BYTE *record)
{
    int i;

    EncodeDword(entry->offset, record);
    EncodeDword(entry->size, record + 4);
    for (i = 0; i < PAYLOAD_NAME_BYTES; i++)
        record[8 + i] = (BYTE)entry->name[i];
}

int DecodeEntryCount(const BYTE *bytes)
{
    int value = bytes[0] | bytes[1] << 8;

    return value >= 0x8000 ? value - 0x10000 : value;
}

void EncodeEntryCount(int count, BYTE *bytes)
{
    bytes[0] = (BYTE)(count & 0xFF);
    bytes[1] = (BYTE)(count >> 8 & 0xFF);
}

BOOL LocateDirectory(DWORD payloadEnd, int count, DWORD *directoryStart)
{
    DWORD tail;

    if (count < 1 || count > PAYLOAD_MAX_ENTRIES)
        return FALSE;
    // At most 32,767 x 40 + 2 bytes: no overflow in 32 bits.
    tail = (DWORD)count * PAYLOAD_ENTRY_BYTES + PAYLOAD_COUNT_BYTES;
    if (tail > payloadEnd)
        return FALSE;
    *directoryStart = payloadEnd - tail;
    return TRUE;
}

BOOL EntryFitsBefore(const PayloadEntry *entry, DWORD limit)
{
    // Subtract instead of adding: offset + size may wrap around 32 bits.
    return entry->offset <= limit && entry->size <= limit - entry->offset;
}

// A component the file system would resolve to the directory itself or its
// parent: empty once Windows drops trailing dots and spaces, or "." / "..".
static BOOL ComponentIsDotsAndSpaces(const CHAR *start, const CHAR *end)
{
    const CHAR *p;

    if (start == end)
        return FALSE;
    for (p = start; p < end; p++)
        if (*p != '.' && *p != ' ')
            return FALSE;
    return TRUE;
}

static BOOL IsSeparator(CHAR c) { return c == '\\' || c == '/'; }

// Separators are found byte by byte, not by double-byte character: a
// trailing byte equal to '\' is then taken as a separator too. That only
// splits a name into more components than Windows sees, so every real "."
// or ".." component is still found; ':' and '/' never occur as trailing
// bytes in any double-byte code page.
BOOL PayloadNameIsSafe(const CHAR *name)
{
    const CHAR *component = name;
    int i;

    if (name[0] == '\0' || IsSeparator(name[0]))
        return FALSE;
    for (i = 0; i < PAYLOAD_NAME_BYTES; i++) {
        CHAR c = name[i];
        if (c == ':')
            return FALSE;
        if (c == '\0' || IsSeparator(c)) {
            if (ComponentIsDotsAndSpaces(component, name + i))
                return FALSE;
            if (c == '\0')
                return TRUE;
            component = name + i + 1;
        }
    }
    // No NUL within the field: the name would run on into whatever follows.
    return FALSE;
}
