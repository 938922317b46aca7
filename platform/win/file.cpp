// OpenFile's contract on CreateFileA, for paths up to MAX_PATH.
//
// The real OpenFile stores the full path in the 128-byte szPathName of its
// OFSTRUCT and fails for anything longer, so a carrier kept in a deep folder
// could not even open itself. This replacement opens what CreateFileA can
// open, with the access, sharing and disposition OpenFile would use, and
// returns the handle cast to HFILE as OpenFile does, so _lread, _hread,
// _hwrite, _llseek, _lclose and GetFileSize take it unchanged.
//
// Known differences: only plain opens are offered (OF_READ, OF_WRITE,
// OF_READWRITE, each optionally with OF_CREATE, and the OF_SHARE_* modes);
// the action flags (OF_EXIST, OF_DELETE, OF_PARSE, OF_PROMPT, OF_REOPEN,
// OF_VERIFY, OF_SEARCH, OF_CANCEL) fail with ERROR_INVALID_PARAMETER. A bare
// file name is not looked up along the search path. szPathName receives the
// name as given when it fits, and is left empty otherwise: a shortened path
// would name another file. fFixedDisk is always 0: nothing here asks what
// kind of drive holds the file.
#include "platform.h"

static const UINT kAccessMask = 0x0003;
static const UINT kShareMask = 0x0070;
static const UINT kSupportedStyles = kAccessMask | kShareMask | OF_CREATE;

static DWORD AccessForStyle(UINT uStyle)
{
    switch (uStyle & kAccessMask) {
    case OF_WRITE:
        return GENERIC_WRITE;
    case OF_READWRITE:
        return GENERIC_READ | GENERIC_WRITE;
    default:
        return GENERIC_READ;
    }
}

// OF_SHARE_COMPAT, the mode of a plain OF_READ, shares both reading and
// writing. That matters here: the carrier opens its own running executable,
// which the loader already holds open.
static DWORD SharingForStyle(UINT uStyle)
{
    switch (uStyle & kShareMask) {
    case OF_SHARE_EXCLUSIVE:
        return 0;
    case OF_SHARE_DENY_WRITE:
        return FILE_SHARE_READ;
    case OF_SHARE_DENY_READ:
        return FILE_SHARE_WRITE;
    default:
        return FILE_SHARE_READ | FILE_SHARE_WRITE;
    }
}

static HFILE FailOpen(LPOFSTRUCT lpReOpenBuff, DWORD error)
{
    SetLastError(error);
    lpReOpenBuff->nErrCode = (WORD) error;
    return HFILE_ERROR;
}

HFILE WINAPI PlatformOpenFile(LPCSTR lpFileName, LPOFSTRUCT lpReOpenBuff, UINT uStyle)
{
    HANDLE file;
    int length;

    if (lpReOpenBuff == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return HFILE_ERROR;
    }
    lpReOpenBuff->cBytes = (BYTE) sizeof(OFSTRUCT);
    lpReOpenBuff->fFixedDisk = 0;
    lpReOpenBuff->nErrCode = 0;
    lpReOpenBuff->Reserved1 = 0;
    lpReOpenBuff->Reserved2 = 0;
    lpReOpenBuff->szPathName[0] = '\0';

    if (lpFileName == NULL || (uStyle & ~kSupportedStyles) != 0)
        return FailOpen(lpReOpenBuff, ERROR_INVALID_PARAMETER);
    length = lstrlenA(lpFileName);
    if (length == 0)
        return FailOpen(lpReOpenBuff, ERROR_PATH_NOT_FOUND);
    if (length >= MAX_PATH)
        return FailOpen(lpReOpenBuff, ERROR_FILENAME_EXCED_RANGE);

    // Without FILE_FLAG_BACKUP_SEMANTICS CreateFileA refuses directories,
    // which is what OpenFile does too.
    file = CreateFileA(lpFileName, AccessForStyle(uStyle), SharingForStyle(uStyle), NULL,
                       (uStyle & OF_CREATE) ? CREATE_ALWAYS : OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return FailOpen(lpReOpenBuff, GetLastError());

    if (length < OFS_MAXPATHNAME)
        lstrcpyA(lpReOpenBuff->szPathName, lpFileName);
    return (HFILE) (LONG_PTR) file;
}
