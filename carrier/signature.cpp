// Decoding the PE header's security directory; see signature.h. No
// services: the bytes come through the caller's reader, and the vendor tool
// links this file without the platform. Every field is decoded little-endian byte by byte, so the result
// does not depend on the host's byte order or alignment.
#include "signature.h"

// Positions in the PE headers, counted from the "PE\0\0" signature.
#define FILE_HEADER_AT 4
#define SIZE_OF_OPTIONAL_HEADER_AT (FILE_HEADER_AT + 16)
#define OPTIONAL_HEADER_AT (FILE_HEADER_AT + 20)

// Positions in the optional header, the same in both of its forms.
#define SIZE_OF_HEADERS_AT 60
#define DATA_DIRECTORY_BYTES 8
#define SECURITY_DIRECTORY 4

// e_lfanew's position in the DOS header.
#define PE_HEADERS_OFFSET_AT 0x3C

static WORD DecodeWord(const BYTE *bytes) { return (WORD)(bytes[0] | bytes[1] << 8); }

static DWORD DecodeDword(const BYTE *bytes)
{
    return (DWORD)bytes[0] | (DWORD)bytes[1] << 8 | (DWORD)bytes[2] << 16 | (DWORD)bytes[3] << 24;
}

BOOL DecodePeHeadersOffset(const BYTE *dosHeader, DWORD got, DWORD fileSize, DWORD *peOffset)
{
    DWORD offset;

    if (got < PE_DOS_HEADER_BYTES || dosHeader[0] != 'M' || dosHeader[1] != 'Z')
        return FALSE;
    offset = DecodeDword(dosHeader + PE_HEADERS_OFFSET_AT);
    if (offset >= fileSize)
        return FALSE;
    *peOffset = offset;
    return TRUE;
}

// Where the optional header keeps its count of data directories and where
// the directories start, by its magic: PE32 (0x10B), or PE32+ (0x20B), which
// widens the image base and the stack and heap sizes to 64 bits and drops
// BaseOfData, moving both 16 bytes further. FALSE for any other magic.
static BOOL LocateDataDirectories(WORD magic, DWORD *countAt, DWORD *directoriesAt)
{
    if (magic == 0x10B) {
        *countAt = 92;
        *directoriesAt = 96;
        return TRUE;
    }
    if (magic == 0x20B) {
        *countAt = 108;
        *directoriesAt = 112;
        return TRUE;
    }
    return FALSE;
}

static BOOL HasPeSignature(const BYTE *headers)
{
    return headers[0] == 'P' && headers[1] == 'E' && headers[2] == 0 && headers[3] == 0;
}

BOOL DecodeCertificateTable(const BYTE *headers, DWORD got, DWORD peOffset, CertificateTable *table)
{
    const BYTE *optional = headers + OPTIONAL_HEADER_AT;
    const BYTE *security;
    DWORD countAt;
    DWORD directoriesAt;
    DWORD securityEnd;
    DWORD headersEnd;
    DWORD sizeOfHeaders;
    CertificateTable found;

    if (got > PE_HEADERS_BYTES)
        got = PE_HEADERS_BYTES;
    if (got < OPTIONAL_HEADER_AT + 2 || !HasPeSignature(headers))
        return FALSE;
    if (!LocateDataDirectories(DecodeWord(optional), &countAt, &directoriesAt))
        return FALSE;
    securityEnd = directoriesAt + (SECURITY_DIRECTORY + 1) * DATA_DIRECTORY_BYTES;
    if (got < OPTIONAL_HEADER_AT + securityEnd)
        return FALSE;
    // The directory must belong to the optional header as the header itself
    // declares it; bytes past its declared end are the section table.
    if (DecodeWord(headers + SIZE_OF_OPTIONAL_HEADER_AT) < securityEnd ||
        DecodeDword(optional + countAt) <= SECURITY_DIRECTORY)
        return FALSE;
    security = optional + directoriesAt + SECURITY_DIRECTORY * DATA_DIRECTORY_BYTES;
    found.offset = DecodeDword(security);
    found.size = DecodeDword(security + 4);

    // A table is appended after the image, so it can't start before the end
    // of the headers: neither the bytes just decoded nor what the optional
    // header declares as their size. This also rules out offset 0.
    headersEnd = peOffset + OPTIONAL_HEADER_AT + securityEnd;
    sizeOfHeaders = DecodeDword(optional + SIZE_OF_HEADERS_AT);
    if (sizeOfHeaders > headersEnd)
        headersEnd = sizeOfHeaders;
    if (found.size == 0 || found.offset < headersEnd)
        return FALSE;
    *table = found;
    return TRUE;
}

BOOL CertificateTableEndsFile(const CertificateTable *table, DWORD fileSize)
{
    // Subtract instead of adding: offset + size may wrap around 32 bits.
    return table->offset <= fileSize && table->size == fileSize - table->offset;
}

// The bytes from position up to wanted of them, fewer where the file ends.
static BOOL ReadUpTo(HeaderReader read, void *context, DWORD fileSize, DWORD position, BYTE *buffer,
                     DWORD wanted, DWORD *got)
{
    if (wanted > fileSize - position)
        wanted = fileSize - position;
    *got = wanted;
    return read(context, position, buffer, wanted);
}

BOOL ReadCertificateTable(HeaderReader read, void *context, DWORD fileSize, BOOL *named,
                          CertificateTable *table)
{
    BYTE dosHeader[PE_DOS_HEADER_BYTES];
    BYTE headers[PE_HEADERS_BYTES];
    DWORD got;
    DWORD peOffset;

    *named = FALSE;
    if (!ReadUpTo(read, context, fileSize, 0, dosHeader, sizeof dosHeader, &got))
        return FALSE;
    if (!DecodePeHeadersOffset(dosHeader, got, fileSize, &peOffset))
        return TRUE;
    // DecodePeHeadersOffset keeps peOffset inside the file.
    if (!ReadUpTo(read, context, fileSize, peOffset, headers, sizeof headers, &got))
        return FALSE;
    *named = DecodeCertificateTable(headers, got, peOffset, table);
    return TRUE;
}
