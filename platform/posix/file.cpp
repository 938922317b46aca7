// OpenFile, _llseek, _lread, _hread, _hwrite, _lclose, GetFileSize,
// DeleteFileA, GetTempFileNameA and MoveFileExA over POSIX file descriptors
// and names. The HFILE is the descriptor.
//
// Emulated as on Windows: '\' and '/' both separate components; names match
// an existing file in any ASCII letter case; a file with no write permission
// bits stands for the read-only attribute, so opening it for writing or
// deleting it fails with ERROR_ACCESS_DENIED even for root; directories and
// other non-regular files can't be opened; a failed write leaves the file's
// length and position as they were, as a failed WriteFile does.
// GetTempFileNameA makes "<path><pre><hex>.TMP" with a 16-bit number that
// starts from the clock and counts up past names already taken in any
// letter case, creating the file exclusively, so launchers run at once never
// share one. MoveFileExA is rename(2): the destination is replaced in one
// step, and refused (ERROR_ACCESS_DENIED) when it is a directory or a
// read-only file.
//
// Known differences: OpenFile takes only OF_READ, OF_WRITE, OF_READWRITE and
// OF_CREATE (no sharing or OF_EXIST/OF_DELETE/OF_PARSE styles) and opens any
// path that fits MAX_PATH where Windows stops at 128 bytes; szPathName holds
// the name as given, cut to its 128 bytes, not the fully qualified name.
// _llseek fails (ERROR_INVALID_PARAMETER) for a position past 2 GiB - 1,
// which Windows would return as a negative LONG. _hread and _hwrite refuse a
// negative count, which Windows would take as a huge unsigned one. Letter
// case is matched in the last component only, and only for ASCII letters.
// GetTempFileNameA adds '/', not '\', to a path that ends in neither.
// MoveFileExA takes only MOVEFILE_REPLACE_EXISTING; it replaces a file that
// is open or running, which Windows refuses unless the file was opened with
// delete sharing (the programs holding the old file keep reading the old
// bytes); a move to a name that differs only in letter case leaves the name
// as it was; without MOVEFILE_REPLACE_EXISTING the test for an existing
// destination and the move are two steps.
#include "fault.h"
#include "native_path.h"
#include "os.h"
#include "os_error.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#define OF_ACCESS_MASK (OF_WRITE | OF_READWRITE)

// The largest position _llseek can return: a LONG that is not HFILE_ERROR.
static const off_t kMaxPosition = 0x7FFFFFFF;

static HFILE OpenFailed(LPOFSTRUCT of, DWORD error)
{
    SetLastError(error);
    if (of != NULL)
        of->nErrCode = (WORD)error;
    return HFILE_ERROR;
}

static void FillOpenRecord(LPOFSTRUCT of, LPCSTR name)
{
    of->cBytes = (BYTE)sizeof(OFSTRUCT);
    of->fFixedDisk = 1;
    of->nErrCode = 0;
    of->Reserved1 = 0;
    of->Reserved2 = 0;
    lstrcpynA(of->szPathName, name != NULL ? name : "", OFS_MAXPATHNAME);
}

// The open(2) flags for an OpenFile style; FALSE for styles not emulated.
static BOOL OpenFlags(UINT uStyle, int *flags)
{
    if ((uStyle & ~(UINT)(OF_ACCESS_MASK | OF_CREATE)) != 0)
        return FALSE;
    switch (uStyle & OF_ACCESS_MASK) {
    case OF_READ:
        *flags = O_RDONLY;
        break;
    case OF_WRITE:
        *flags = O_WRONLY;
        break;
    case OF_READWRITE:
        *flags = O_RDWR;
        break;
    default:
        return FALSE;
    }
    // OF_CREATE truncates an existing file; OpenFile does that itself, once
    // it knows the file is a regular one.
    if (uStyle & OF_CREATE)
        *flags |= O_CREAT;
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused after.
    *flags |= O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    return TRUE;
}

// Windows tells a missing file (ERROR_FILE_NOT_FOUND) from a missing
// directory on its way (ERROR_PATH_NOT_FOUND).
static DWORD MissingError(const char *path)
{
    char directory[MAX_PATH];
    char *slash;
    struct stat st;

    lstrcpynA(directory, path, MAX_PATH);
    slash = strrchr(directory, '/');
    if (slash == NULL)
        return ERROR_FILE_NOT_FOUND;
    if (slash == directory)
        slash[1] = '\0';
    else
        slash[0] = '\0';
    if (stat(directory, &st) == 0 && S_ISDIR(st.st_mode))
        return ERROR_FILE_NOT_FOUND;
    return ERROR_PATH_NOT_FOUND;
}

static DWORD PathError(const char *path, int error)
{
    if (error == ENOENT)
        return MissingError(path);
    return ErrorFromErrno(error, ERROR_ACCESS_DENIED);
}

// A regular file without any write permission bit: the read-only attribute.
static BOOL IsReadOnlyFile(const char *path)
{
    struct stat st;

    return stat(path, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
}

HFILE OpenFile(LPCSTR lpFileName, LPOFSTRUCT lpReOpenBuff, UINT uStyle)
{
    char path[MAX_PATH];
    int flags;
    int fd;
    struct stat st;

    if (FaultPoint(ERROR_ACCESS_DENIED)) {
        if (lpReOpenBuff != NULL)
            lpReOpenBuff->nErrCode = ERROR_ACCESS_DENIED;
        return HFILE_ERROR;
    }
    if (lpReOpenBuff == NULL)
        return OpenFailed(NULL, ERROR_INVALID_PARAMETER);
    FillOpenRecord(lpReOpenBuff, lpFileName);
    if (!OpenFlags(uStyle, &flags))
        return OpenFailed(lpReOpenBuff, ERROR_INVALID_PARAMETER);
    if (!NativePath(lpFileName, path, sizeof path))
        return OpenFailed(lpReOpenBuff, GetLastError());
    MatchNameCase(path);
    // Replacing a read-only file fails whatever the access asked for.
    if (((uStyle & OF_ACCESS_MASK) != OF_READ || (uStyle & OF_CREATE)) && IsReadOnlyFile(path))
        return OpenFailed(lpReOpenBuff, ERROR_ACCESS_DENIED);

    fd = open(path, flags, 0666);
    if (fd < 0)
        return OpenFailed(lpReOpenBuff, PathError(path, errno));
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return OpenFailed(lpReOpenBuff, ERROR_ACCESS_DENIED);
    }
    // An empty file is left alone rather than truncated: on ext4, truncating
    // a file to zero makes its close start writing it back at once (a guard
    // for programs that rewrite files in place), which halved the speed of
    // extraction into files GetTempFileNameA had just created.
    if ((uStyle & OF_CREATE) && st.st_size > 0 && ftruncate(fd, 0) != 0) {
        DWORD error = ErrorFromErrno(errno, ERROR_ACCESS_DENIED);
        close(fd);
        return OpenFailed(lpReOpenBuff, error);
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    ResourceTaken(RESOURCE_FILE);
    return fd;
}

// FALSE, with the Windows error set, unless hFile is an open descriptor
// whose access mode allows the transfer (O_RDONLY for reading, O_WRONLY for
// writing, or O_RDWR).
static BOOL HandleAllows(HFILE hFile, int deniedMode)
{
    int flags = fcntl(hFile, F_GETFL);

    if (flags < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((flags & O_ACCMODE) == deniedMode) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

LONG _llseek(HFILE hFile, LONG lOffset, int iOrigin)
{
    off_t base;
    off_t target;
    struct stat st;

    if (FaultPoint(ERROR_INVALID_HANDLE))
        return HFILE_ERROR;
    switch (iOrigin) {
    case FILE_BEGIN:
        base = 0;
        break;
    case FILE_CURRENT:
        base = lseek(hFile, 0, SEEK_CUR);
        break;
    case FILE_END:
        base = fstat(hFile, &st) == 0 ? st.st_size : -1;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return HFILE_ERROR;
    }
    if (base < 0) {
        SetLastError(ErrorFromErrno(errno, ERROR_INVALID_HANDLE));
        return HFILE_ERROR;
    }
    target = base + lOffset;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return HFILE_ERROR;
    }
    if (target > kMaxPosition) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return HFILE_ERROR;
    }
    if (lseek(hFile, target, SEEK_SET) < 0) {
        SetLastError(ErrorFromErrno(errno, ERROR_INVALID_HANDLE));
        return HFILE_ERROR;
    }
    return (LONG)target;
}

// Reads until count bytes or the end of the file; a short count means the
// end of the file. FALSE, with the Windows error set, on a failure.
static BOOL ReadFully(HFILE hFile, char *buffer, size_t count, size_t *done)
{
    ssize_t got;

    *done = 0;
    if (!HandleAllows(hFile, O_WRONLY))
        return FALSE;
    while (*done < count) {
        got = read(hFile, buffer + *done, count - *done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            SetLastError(ErrorFromErrno(errno, ERROR_READ_FAULT));
            return FALSE;
        }
        if (got == 0)
            break;
        *done += (size_t)got;
    }
    return TRUE;
}

UINT _lread(HFILE hFile, LPVOID lpBuffer, UINT uBytes)
{
    size_t done;

    if (FaultPoint(ERROR_READ_FAULT))
        return (UINT)HFILE_ERROR;
    if (!ReadFully(hFile, (char *)lpBuffer, uBytes, &done))
        return (UINT)HFILE_ERROR;
    return (UINT)done;
}

LONG _hread(HFILE hFile, LPVOID lpBuffer, LONG lBytes)
{
    size_t done;

    if (FaultPoint(ERROR_READ_FAULT))
        return HFILE_ERROR;
    if (lBytes < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return HFILE_ERROR;
    }
    if (!ReadFully(hFile, (char *)lpBuffer, (size_t)lBytes, &done))
        return HFILE_ERROR;
    return (LONG)done;
}

// A write of zero bytes sets the end of the file at the current position,
// truncating or extending it, as Windows' _hwrite does.
static BOOL SetEndOfFileHere(HFILE hFile)
{
    off_t position = lseek(hFile, 0, SEEK_CUR);

    if (position < 0 || ftruncate(hFile, position) != 0) {
        SetLastError(ErrorFromErrno(errno, ERROR_WRITE_FAULT));
        return FALSE;
    }
    return TRUE;
}

// Undoes what a failed write did to the file's length and position, so the
// failure leaves the file as a failed WriteFile would.
static void UndoWrite(HFILE hFile, off_t start, off_t length)
{
    struct stat st;

    if (fstat(hFile, &st) == 0 && st.st_size > length)
        (void)!ftruncate(hFile, length);
    lseek(hFile, start, SEEK_SET);
}

// Writes all count bytes or fails: a write can only fall short on a real
// failure (a full disk, a size limit), which Windows reports as a failed
// WriteFile rather than a short count.
static BOOL WriteFully(HFILE hFile, const char *buffer, size_t count)
{
    struct stat st;
    off_t start;
    size_t done = 0;
    ssize_t put;

    start = lseek(hFile, 0, SEEK_CUR);
    if (start < 0 || fstat(hFile, &st) != 0) {
        SetLastError(ErrorFromErrno(errno, ERROR_WRITE_FAULT));
        return FALSE;
    }
    while (done < count) {
        put = write(hFile, buffer + done, count - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            SetLastError(put < 0 ? ErrorFromErrno(errno, ERROR_WRITE_FAULT) : ERROR_WRITE_FAULT);
            UndoWrite(hFile, start, st.st_size);
            return FALSE;
        }
        done += (size_t)put;
    }
    return TRUE;
}

LONG _hwrite(HFILE hFile, LPCCH lpBuffer, LONG lBytes)
{
    if (FaultPoint(ERROR_DISK_FULL))
        return HFILE_ERROR;
    if (lBytes < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return HFILE_ERROR;
    }
    if (!HandleAllows(hFile, O_RDONLY))
        return HFILE_ERROR;
    if (lBytes == 0)
        return SetEndOfFileHere(hFile) ? 0 : HFILE_ERROR;
    if (!WriteFully(hFile, lpBuffer, (size_t)lBytes))
        return HFILE_ERROR;
    return lBytes;
}

HFILE _lclose(HFILE hFile)
{
    // Linux releases the descriptor even when close reports EINTR.
    if (close(hFile) != 0 && errno != EINTR) {
        SetLastError(ErrorFromErrno(errno, ERROR_INVALID_HANDLE));
        return HFILE_ERROR;
    }
    ResourceReleased(RESOURCE_FILE);
    return 0;
}

// The low 32 bits of the size, the high ones through lpFileSizeHigh when
// given. A size whose low part is INVALID_FILE_SIZE sets ERROR_SUCCESS so
// that a caller can tell it from a failure, as Windows does.
DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh)
{
    LONG_PTR value = (LONG_PTR)hFile;
    struct stat st;
    DWORD low;

    if (FaultPoint(ERROR_INVALID_HANDLE))
        return INVALID_FILE_SIZE;
    if (value < 0 || value > INT_MAX || fstat((int)value, &st) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    low = (DWORD)((uint64_t)st.st_size & 0xFFFFFFFFu);
    if (lpFileSizeHigh != NULL)
        *lpFileSizeHigh = (DWORD)((uint64_t)st.st_size >> 32);
    if (low == INVALID_FILE_SIZE)
        SetLastError(ERROR_SUCCESS);
    return low;
}

BOOL DeleteFileA(LPCSTR lpFileName)
{
    char path[MAX_PATH];
    struct stat st;

    if (!NativePath(lpFileName, path, sizeof path))
        return FALSE;
    MatchNameCase(path);
    if (lstat(path, &st) != 0) {
        SetLastError(PathError(path, errno));
        return FALSE;
    }
    if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (unlink(path) != 0) {
        SetLastError(PathError(path, errno));
        return FALSE;
    }
    return TRUE;
}

// Separators as the emulation takes them, '\' and '/'.
static BOOL IsSeparator(char c) { return c == '\\' || c == '/'; }

// The first number GetTempFileNameA tries, from the clock as on Windows;
// never 0, which would mean "name only".
static UINT FirstUniqueNumber(void)
{
    struct timespec now;
    UINT number;

    clock_gettime(CLOCK_MONOTONIC, &now);
    number = (UINT)((uint64_t)now.tv_sec * 1000 + (uint64_t)now.tv_nsec / 1000000) & 0xFFFF;
    return number != 0 ? number : 1;
}

// stem (the directory, its separator and the prefix) followed by number in
// hexadecimal and ".TMP", into name (MAX_PATH bytes; the caller has kept
// stem short enough for the longest number).
static void FormatTempName(LPSTR name, LPCSTR stem, UINT number)
{
    static const char kDigits[] = "0123456789ABCDEF";
    char digits[8];
    int count = 0;
    size_t length = strlen(stem);

    do {
        digits[count++] = kDigits[number & 0xF];
        number >>= 4;
    } while (number != 0);
    memcpy(name, stem, length);
    while (count > 0)
        name[length++] = digits[--count];
    memcpy(name + length, ".TMP", 5);
}

// Whether path names an existing directory.
static BOOL IsDirectory(LPCSTR path)
{
    char native[MAX_PATH];
    struct stat st;

    return NativePath(path, native, sizeof native) && stat(native, &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether the file native names, or one whose name differs only in letter
// case, already exists: Windows would count either as taken.
static BOOL NameTaken(const char *native)
{
    char matched[MAX_PATH];
    struct stat st;

    if (lstat(native, &st) == 0)
        return TRUE;
    lstrcpynA(matched, native, MAX_PATH);
    MatchNameCase(matched);
    return strcmp(matched, native) != 0;
}

// Creates name exclusively. ERROR_SUCCESS, ERROR_FILE_EXISTS when it is
// taken, or the error that stops the search.
static DWORD CreateUniqueFile(LPCSTR name)
{
    char path[MAX_PATH];
    int fd;

    if (!NativePath(name, path, sizeof path))
        return GetLastError();
    if (NameTaken(path))
        return ERROR_FILE_EXISTS;
    fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0)
        return errno == EEXIST ? ERROR_FILE_EXISTS : PathError(path, errno);
    close(fd);
    return ERROR_SUCCESS;
}

UINT GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique,
                      LPSTR lpTempFileName)
{
    char stem[MAX_PATH];
    size_t length;
    int i;
    UINT first;
    UINT number;
    DWORD status;

    if (FaultPoint(ERROR_ACCESS_DENIED))
        return 0;
    if (lpPathName == NULL || lpTempFileName == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // MAX_PATH - 14 leaves room for a separator, three prefix characters,
    // four digits, ".TMP" and the NUL.
    length = strlen(lpPathName);
    if (length > MAX_PATH - 14) {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return 0;
    }
    if (!IsDirectory(lpPathName)) {
        SetLastError(ERROR_DIRECTORY);
        return 0;
    }
    memcpy(stem, lpPathName, length);
    if (!IsSeparator(stem[length - 1]))
        stem[length++] = '/';
    for (i = 0; i < 3 && lpPrefixString != NULL && lpPrefixString[i] != '\0'; i++)
        stem[length++] = lpPrefixString[i];
    stem[length] = '\0';

    // A number given makes the name only; nothing is created or checked.
    number = uUnique & 0xFFFF;
    if (number != 0) {
        FormatTempName(lpTempFileName, stem, number);
        return number;
    }
    first = FirstUniqueNumber();
    number = first;
    do {
        FormatTempName(lpTempFileName, stem, number);
        status = CreateUniqueFile(lpTempFileName);
        if (status == ERROR_SUCCESS)
            return number;
        if (status != ERROR_FILE_EXISTS)
            break;
        number = number == 0xFFFF ? 1 : number + 1;
    } while (number != first);
    lpTempFileName[0] = '\0';
    SetLastError(status);
    return 0;
}

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags)
{
    char source[MAX_PATH];
    char target[MAX_PATH];
    struct stat from;
    struct stat to;

    if (FaultPoint(ERROR_ACCESS_DENIED))
        return FALSE;
    if (lpExistingFileName == NULL || lpNewFileName == NULL ||
        (dwFlags & ~(DWORD)MOVEFILE_REPLACE_EXISTING) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!NativePath(lpExistingFileName, source, sizeof source) ||
        !NativePath(lpNewFileName, target, sizeof target))
        return FALSE;
    MatchNameCase(source);
    // "setup.exe" replaces "Setup.exe" rather than making a second file.
    MatchNameCase(target);
    if (lstat(source, &from) != 0) {
        SetLastError(PathError(source, errno));
        return FALSE;
    }
    if (lstat(target, &to) == 0 && (from.st_dev != to.st_dev || from.st_ino != to.st_ino)) {
        if (!(dwFlags & MOVEFILE_REPLACE_EXISTING)) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return FALSE;
        }
        // rename(2) would replace a read-only file, even an empty directory.
        if (S_ISDIR(to.st_mode) || S_ISDIR(from.st_mode) ||
            (S_ISREG(to.st_mode) && (to.st_mode & 0222) == 0)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }
    if (rename(source, target) != 0) {
        SetLastError(errno == EXDEV ? ERROR_NOT_SAME_DEVICE : PathError(target, errno));
        return FALSE;
    }
    return TRUE;
}
