// The Windows backend: the real services of KERNEL32.dll and ADVAPI32.dll.
//
// One service is replaced. OpenFile keeps the path in a 128-byte field of its
// OFSTRUCT and fails for longer paths, so a carrier saved in a deep folder
// would extract nothing; PlatformOpenFile gives the same contract (OF_READ,
// OF_CREATE | OF_WRITE, HFILE_ERROR on failure) for every path that fits
// MAX_PATH. The handle it returns works with _lread, _hread, _hwrite,
// _llseek, _lclose and GetFileSize like one from OpenFile.
#ifndef PLATFORM_WIN_OS_H
#define PLATFORM_WIN_OS_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

HFILE WINAPI PlatformOpenFile(LPCSTR lpFileName, LPOFSTRUCT lpReOpenBuff, UINT uStyle);
#define OpenFile PlatformOpenFile

#endif
