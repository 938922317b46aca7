// GetTempPathA: the user's temporary directory, ending in '/'.
//
// $TMPDIR when it is set to an absolute path (a relative one would name a
// different directory in every working directory, so it is ignored), with
// '/' added when it lacks one. Otherwise a private directory for the user,
// /tmp/launcher-<uid>/, created with mode 0700 when missing. Files unpacked
// there are run, so a directory that someone else could have planted or can
// write into is refused (0, ERROR_ACCESS_DENIED): a symlink, one owned by
// another user, or one open to group or others. The shared /tmp itself is
// never given.
//
// As on Windows, a result that does not fit returns the size it needs,
// counting the NUL, and leaves the buffer alone; the directory is not
// checked to exist when it comes from TMPDIR.
#include "fault.h"
#include "os.h"
#include "os_error.h"
#include "tempdir.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static const char kDefaultRoot[] = "/tmp";

#ifdef PLATFORM_FAULTS
static char temp_root[MAX_PATH];

void PlatformSetTempRoot(LPCSTR root)
{
    lstrcpynA(temp_root, root != NULL ? root : "", MAX_PATH);
}

static const char *TempRoot(void) { return temp_root[0] != '\0' ? temp_root : kDefaultRoot; }
#else
static const char *TempRoot(void) { return kDefaultRoot; }
#endif

// TRUE when the directory open as fd is the user's alone.
static BOOL IsPrivateDirectory(int fd)
{
    struct stat st;

    return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 077) == 0;
}

// Makes sure the private directory exists and is safe to unpack into.
static BOOL PreparePrivateDirectory(const char *path)
{
    int fd;
    BOOL isPrivate;

    if (mkdir(path, 0700) != 0 && errno != EEXIST) {
        SetLastError(ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND));
        return FALSE;
    }
    // O_NOFOLLOW: a symlink planted under the name fails here.
    fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    isPrivate = IsPrivateDirectory(fd);
    close(fd);
    if (!isPrivate) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

// Writes the temporary directory, with its trailing '/', into path (a
// buffer of size bytes). FALSE with the last error set when there is none;
// the length needed otherwise goes to *length, even when it did not fit.
static BOOL TempDirectory(char *path, size_t size, size_t *length)
{
    const char *tmpdir = getenv("TMPDIR");
    int written;

    if (tmpdir != NULL && tmpdir[0] == '/') {
        *length = strlen(tmpdir);
        if (tmpdir[*length - 1] != '/')
            ++*length;
        if (*length < size) {
            memcpy(path, tmpdir, strlen(tmpdir));
            path[*length - 1] = '/';
            path[*length] = '\0';
        }
        return TRUE;
    }
    // Checked without its trailing '/': a path ending in '/' would follow a
    // symlink in spite of O_NOFOLLOW.
    written = snprintf(path, size, "%s/launcher-%lu", TempRoot(), (unsigned long)geteuid());
    if (written < 0 || (size_t)written + 1 >= size) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    if (!PreparePrivateDirectory(path))
        return FALSE;
    path[written] = '/';
    path[written + 1] = '\0';
    *length = (size_t)written + 1;
    return TRUE;
}

DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer)
{
    // The longest TMPDIR a caller could want still fits; longer fails.
    char path[4096];
    size_t length;

    if (FaultPoint(ERROR_PATH_NOT_FOUND))
        return 0;
    if (!TempDirectory(path, sizeof path, &length))
        return 0;
    if (length >= sizeof path) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (length >= nBufferLength)
        return (DWORD)(length + 1);
    memcpy(lpBuffer, path, length + 1);
    return (DWORD)length;
}
