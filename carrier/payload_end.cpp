// Where the open carrier's payload ends, read through the file services; the
// reading and decoding of the header are shared with the vendor tool
// (signature.cpp).
#include "signature.h"

// A HeaderReader over an open file: a seek, then one read that must deliver
// every byte asked for.
static BOOL ReadFromFile(void *context, DWORD position, BYTE *buffer, DWORD wanted)
{
    HFILE file = *(HFILE *)context;

    if (_llseek(file, (LONG)position, FILE_BEGIN) != (LONG)position)
        return FALSE;
    return _lread(file, buffer, wanted) == wanted;
}

BOOL FindPayloadEnd(HFILE carrier, DWORD fileSize, DWORD *payloadEnd)
{
    CertificateTable table;
    BOOL named;

    *payloadEnd = fileSize;
    if (!ReadCertificateTable(ReadFromFile, &carrier, fileSize, &named, &table))
        return FALSE;
    if (named && CertificateTableEndsFile(&table, fileSize))
        *payloadEnd = table.offset;
    return TRUE;
}
