// Windows path names as POSIX path names, for the emulated services.
#ifndef PLATFORM_POSIX_NATIVE_PATH_H
#define PLATFORM_POSIX_NATIVE_PATH_H

#include "os.h"

// Windows takes both '\' and '/' as separators; POSIX only '/', so every '\'
// becomes '/'. Fails (FALSE, ERROR_PATH_NOT_FOUND or ERROR_FILENAME_EXCED_RANGE
// as last error) for an empty path and for one that does not fit out with its
// NUL. out must hold at least MAX_PATH bytes for a Windows-sized path.
BOOL NativePath(LPCSTR path, char *out, size_t size);

// Windows file names ignore case. When the last component of a native path
// names nothing, but an entry of its directory differs from it only in ASCII
// letter case, rewrites the component to that entry's spelling (the first
// one the directory lists). Bytes of 0x80 and above compare exactly: a known
// difference from Windows, which also folds non-ASCII letters.
void MatchNameCase(char *path);

#endif
