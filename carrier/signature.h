// Where the payload of a signed carrier ends.
//
// Code signing appends a certificate table to the end of a PE image (after
// padding the file to a multiple of 8 bytes) and records the table's file
// offset and size in the PE header's security directory. The payload of a
// signed carrier therefore ends where that table starts, not at the end of
// the file; the count and the directory are read back from there.
//
// The header is trusted only as far as it is plainly sound: anything odd (no
// "MZ" or "PE\0\0", a header cut short, a table that is empty, starts inside
// the headers or does not end exactly at the end of the file) means "not
// signed", and the payload ends at the end of the file as for any other
// carrier. A carrier whose image is not PE (the Linux build's) is never
// signed.
//
// Everything but FindPayloadEnd is free of services and shared by the
// launcher and the vendor tool, so both read the same header bytes and find
// the same payload end; the tool reads them through its own files,
// FindPayloadEnd through the file services.
#ifndef CARRIER_SIGNATURE_H
#define CARRIER_SIGNATURE_H

#include "platform.h"

// The DOS header: "MZ", and at 0x3C the offset of the PE headers.
#define PE_DOS_HEADER_BYTES 64
// From the PE headers' offset: the "PE\0\0" signature, the 20-byte file
// header and the optional header up to the end of the security directory
// (data directory 4) in its larger, PE32+ form.
#define PE_HEADERS_BYTES (4 + 20 + 112 + 5 * 8)

// A certificate table as the security directory names it. Its position is a
// file offset, not a relative virtual address: the table is never loaded.
struct CertificateTable {
    DWORD offset;
    DWORD size;
};

// The PE headers' offset (e_lfanew) from the first got bytes of a file of
// fileSize bytes. FALSE when fewer than PE_DOS_HEADER_BYTES arrived, the file
// does not start with "MZ", or the offset lies outside the file.
BOOL DecodePeHeadersOffset(const BYTE *dosHeader, DWORD got, DWORD fileSize, DWORD *peOffset);

// The certificate table named by the got bytes read at peOffset (at most
// PE_HEADERS_BYTES are looked at). FALSE when they are not PE headers ("PE\0\0"
// and an optional header of PE32 or PE32+ form), when they end before the
// security directory, when the optional header is too short to hold it or
// declares fewer than five directories, and when the table is empty or starts
// at 0 or inside the headers: none of these names a table.
BOOL DecodeCertificateTable(const BYTE *headers, DWORD got, DWORD peOffset, CertificateTable *table);

// TRUE when table ends exactly at the end of a file of fileSize bytes: only
// then is the file signed and its payload ends at table->offset.
BOOL CertificateTableEndsFile(const CertificateTable *table, DWORD fileSize);

// Reads exactly wanted bytes at position into buffer; FALSE when they can't
// be had. Never asked for bytes past the end of the file.
typedef BOOL (*HeaderReader)(void *context, DWORD position, BYTE *buffer, DWORD wanted);

// Reads the DOS header and the PE headers of a file of fileSize bytes
// through read (at most PE_DOS_HEADER_BYTES, then PE_HEADERS_BYTES) and
// decodes the certificate table they name. FALSE when a read fails.
// Otherwise TRUE, with *named telling whether a table is named and, when it
// is, *table filled; whether the table ends the file is not judged here.
BOOL ReadCertificateTable(HeaderReader read, void *context, DWORD fileSize, BOOL *named,
                          CertificateTable *table);

// Where the payload of the open carrier, of fileSize bytes, ends: the start
// of its certificate table when it is signed, else fileSize. Moves the file
// pointer. FALSE only when the header can't be read (a seek or read fails):
// the payload end is then unknown, and reading the certificate's bytes as a
// directory would be worse than reading nothing.
BOOL FindPayloadEnd(HFILE carrier, DWORD fileSize, DWORD *payloadEnd);

#endif
