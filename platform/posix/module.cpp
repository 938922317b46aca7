// GetModuleFileNameA for the running executable (hModule NULL), read from
// /proc/self/exe. As on current Windows, a name that does not fit is cut to
// nSize - 1 bytes and terminated, and the call returns nSize with
// ERROR_INSUFFICIENT_BUFFER.
//
// Known difference: no other module can be named (ERROR_MOD_NOT_FOUND).
#include "fault.h"
#include "module.h"
#include "os.h"
#include "os_error.h"

#include <errno.h>
#include <limits.h>
#include <string.h>
#include <unistd.h>

#ifdef PLATFORM_FAULTS
static char module_path[PATH_MAX];

void PlatformSetModulePath(LPCSTR path)
{
    lstrcpynA(module_path, path != NULL ? path : "", (int)sizeof module_path);
}
#endif

// The running executable's path, as the kernel has it (or as a test set it).
static ssize_t OwnPath(char *path, size_t size)
{
#ifdef PLATFORM_FAULTS
    if (module_path[0] != '\0') {
        size_t length = strlen(module_path);
        memcpy(path, module_path, length < size ? length : size);
        return (ssize_t)length;
    }
#endif
    return readlink("/proc/self/exe", path, size);
}

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    char path[PATH_MAX];
    ssize_t length;

    if (FaultPoint(ERROR_NOT_ENOUGH_MEMORY))
        return 0;
    if (hModule != NULL) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    length = OwnPath(path, sizeof path);
    if (length < 0) {
        SetLastError(ErrorFromErrno(errno, ERROR_FILE_NOT_FOUND));
        return 0;
    }
    if ((size_t)length >= sizeof path) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if ((DWORD)length >= nSize) {
        memcpy(lpFilename, path, nSize - 1);
        lpFilename[nSize - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    memcpy(lpFilename, path, (size_t)length);
    lpFilename[length] = '\0';
    return (DWORD)length;
}
