// The OEM report: the code taken from the carrier's file name, or the repeat
// code once the per-user marker key exists, written to "Analysis.ini".
#ifndef OEM_OEM_H
#define OEM_OEM_H

#include "platform.h"

// An OEM code holds at most 11 characters and its NUL.
#define OEM_CODE_SIZE 12

// The per-user key under HKEY_CURRENT_USER whose presence marks that the
// launcher has run for this account. Only its presence counts.
#define OEM_MARKER_KEY "Software\\Corvane\\Quillmere\\1.5"

// Decides the OEM code and writes it, with "Times", to section "Setup" of
// tempDir's "Analysis.ini"; on a first run whose code reached the report,
// creates the marker key. Reports nothing.
void WriteOemReport(LPCSTR launcherPath, LPCSTR tempDir);

// Writes the last component of launcherPath (name and extension, without
// drive and directory) into fileName, a buffer of size bytes. The split
// honours double-byte characters of the ANSI code page; name and extension
// are each limited to 255 bytes, and the result is cut to the buffer at a
// character boundary. An empty string when size allows nothing else.
void GetLauncherFileName(LPCSTR launcherPath, LPSTR fileName, int size);

// Fills code (OEM_CODE_SIZE bytes) from a launcher file name: up to 11
// characters after its first underscore when they are all ASCII digits (an
// empty code when nothing follows the underscore), otherwise the fallback
// code.
void DeriveOemCode(LPCSTR fileName, LPSTR code);

// TRUE when the key keyPath under HKEY_CURRENT_USER can be opened for
// reading; any failure counts as absent.
BOOL MarkerKeyExists(LPCSTR keyPath);

// Creates keyPath under HKEY_CURRENT_USER, with any missing keys along it;
// TRUE when it was created or already there.
BOOL CreateMarkerKey(LPCSTR keyPath);

#endif
