// Extraction of the payload into the temporary directory.
//
// The carrier is opened once and stays open while every record is handled in
// directory order. Each record is checked against the carrier before its
// output is created, so a damaged or truncated carrier never leaves a file
// that looks complete but isn't. Entries are copied through a block of at
// most kCopyBlockBytes, so memory stays flat whatever an entry's size.
//
// A user who starts the carrier twice runs two launchers on the same
// temporary directory, and the setup program the first one started may
// already be reading or running the files the second is writing. So no
// entry is ever written under its own name: it is copied into a fresh,
// uniquely named file and moved over its name in one step once it is whole.
// A reader sees the older file or the new one, never one being rewritten,
// and a copy that fails leaves the older file as it was.
#include "carrier.h"
#include "signature.h"

// The start of the temporary files entries are copied into (the system uses
// at most three characters of it).
static const CHAR kPartPrefix[] = "~ex";

// Measured on a 1 GiB entry: throughput is flat from 64 KiB to 1 MiB and
// drops slightly beyond, as the block no longer stays in the CPU's caches;
// 256 KiB is at the best of it while keeping the process's footprint small.
static const DWORD kCopyBlockBytes = 256 * 1024;

static BOOL SeekTo(HFILE file, DWORD position)
{
    return _llseek(file, (LONG)position, FILE_BEGIN) == (LONG)position;
}

// Copies size bytes from the carrier's current position to output, through
// block. FALSE as soon as a read or a write falls short.
static BOOL CopyBytes(HFILE carrier, HFILE output, LPSTR block, DWORD blockBytes, DWORD size)
{
    while (size > 0) {
        LONG chunk = (LONG)(size < blockBytes ? size : blockBytes);
        if (_hread(carrier, block, chunk) != chunk)
            return FALSE;
        if (_hwrite(output, block, chunk) != chunk)
            return FALSE;
        size -= (DWORD)chunk;
    }
    return TRUE;
}

// Fills a new temporary file in tempDir with the entry's bytes and, once it
// is complete and closed, moves it over path. Whatever fails, the temporary
// file goes and whatever was at path stays.
static void WriteEntryFile(HFILE carrier, const PayloadEntry *entry, LPCSTR tempDir, LPCSTR path,
                           LPSTR block, DWORD blockBytes)
{
    CHAR partPath[MAX_PATH];
    OFSTRUCT openInfo;
    HFILE output;
    BOOL complete;

    if (GetTempFileNameA(tempDir, kPartPrefix, 0, partPath) == 0)
        return;
    output = OpenFile(partPath, &openInfo, OF_CREATE | OF_WRITE);
    if (output == HFILE_ERROR) {
        DeleteFileA(partPath);
        return;
    }
    complete = SeekTo(carrier, entry->offset) &&
               CopyBytes(carrier, output, block, blockBytes, entry->size);
    // Closing flushes: a failure here can still lose written data.
    if (_lclose(output) == HFILE_ERROR)
        complete = FALSE;
    if (!complete || !MoveFileExA(partPath, path, MOVEFILE_REPLACE_EXISTING))
        DeleteFileA(partPath);
}

void ExtractEntry(HFILE carrier, DWORD payloadEnd, PayloadEntry entry, LPCSTR tempDir)
{
    CHAR path[MAX_PATH];
    DWORD blockBytes;
    HGLOBAL memory;
    LPSTR block;

    if (!PayloadNameIsSafe(entry.name) || !EntryFitsBefore(&entry, payloadEnd))
        return;
    if (!JoinPath(path, MAX_PATH, tempDir, entry.name))
        return;
    // An empty entry needs no block: an empty file replaces the older one.
    if (entry.size == 0) {
        WriteEntryFile(carrier, &entry, tempDir, path, NULL, 0);
        return;
    }
    // The block is taken before any file is created, so a block that can't
    // be had creates nothing.
    blockBytes = entry.size < kCopyBlockBytes ? entry.size : kCopyBlockBytes;
    memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, blockBytes);
    if (memory == NULL)
        return;
    block = (LPSTR)GlobalLock(memory);
    if (block != NULL) {
        WriteEntryFile(carrier, &entry, tempDir, path, block, blockBytes);
        GlobalUnlock(memory);
    }
    GlobalFree(memory);
}

// The size of the open file. A carrier is smaller than 2 GiB; anything larger
// (or a size that can't be had) is not one, and reading only the low 32 bits
// of its size would find the count in the middle of the file.
static BOOL ReadCarrierSize(HFILE carrier, DWORD *size)
{
    DWORD high = 0;
    DWORD low = GetFileSize((HANDLE)(LONG_PTR)carrier, &high);

    if (high != 0 || low > CARRIER_MAX_BYTES)
        return FALSE;
    *size = low;
    return TRUE;
}

// The signed entry count stored just before payloadEnd; 0 when it can't be read.
static int ReadEntryCount(HFILE carrier, DWORD payloadEnd)
{
    BYTE bytes[PAYLOAD_COUNT_BYTES];

    if (payloadEnd < PAYLOAD_COUNT_BYTES || !SeekTo(carrier, payloadEnd - PAYLOAD_COUNT_BYTES))
        return 0;
    if (_lread(carrier, bytes, PAYLOAD_COUNT_BYTES) != PAYLOAD_COUNT_BYTES)
        return 0;
    return DecodeEntryCount(bytes);
}

// Reads the directory with one read; returns how many whole records arrived.
// Records a short read did not deliver are not handled at all.
static int ReadDirectory(HFILE carrier, DWORD directoryStart, BYTE *directory, int count)
{
    UINT wanted = (UINT)count * PAYLOAD_ENTRY_BYTES;
    UINT got;

    if (!SeekTo(carrier, directoryStart))
        return 0;
    got = _lread(carrier, directory, wanted);
    if (got == (UINT)HFILE_ERROR || got > wanted)
        return 0;
    return (int)(got / PAYLOAD_ENTRY_BYTES);
}

static void ExtractEntries(HFILE carrier, DWORD payloadEnd, LPCSTR tempDir)
{
    int count = ReadEntryCount(carrier, payloadEnd);
    DWORD directoryStart;
    HGLOBAL memory;
    BYTE *directory;
    PayloadEntry entry;
    int records;
    int i;

    // Below 1, or a directory larger than the carrier: nothing to extract.
    if (!LocateDirectory(payloadEnd, count, &directoryStart))
        return;
    memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, (SIZE_T)count * PAYLOAD_ENTRY_BYTES);
    if (memory == NULL)
        return;
    directory = (BYTE *)GlobalLock(memory);
    if (directory != NULL) {
        records = ReadDirectory(carrier, directoryStart, directory, count);
        for (i = 0; i < records; i++) {
            DecodePayloadEntry(directory + i * PAYLOAD_ENTRY_BYTES, &entry);
            ExtractEntry(carrier, payloadEnd, entry, tempDir);
        }
        GlobalUnlock(memory);
    }
    GlobalFree(memory);
}

void ExtractPayload(LPCSTR carrierPath, LPCSTR tempDir)
{
    OFSTRUCT openInfo;
    HFILE carrier;
    DWORD carrierSize;
    DWORD payloadEnd;

    carrier = OpenFile(carrierPath, &openInfo, OF_READ);
    if (carrier == HFILE_ERROR)
        return;
    // The payload ends at the end of the file, or where the certificate
    // table of a signed carrier starts; the count and the directory are read
    // back from there.
    if (ReadCarrierSize(carrier, &carrierSize) && FindPayloadEnd(carrier, carrierSize, &payloadEnd))
        ExtractEntries(carrier, payloadEnd, tempDir);
    _lclose(carrier);
}
