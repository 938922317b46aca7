// WritePrivateProfileStringA: sets or deletes a key of a profile (INI) file.
//
// The file is edited, not regenerated: the changed key's line, or the lines
// added or removed, are the only bytes that differ; blank lines, comments,
// spacing, other sections and line endings stay as they were. The result
// replaces the file atomically (a temporary file in the same directory, then
// rename), so the file is always either the old one or the complete new one.
//
// The file as Windows reads it: lines end in CRLF, LF or a lone CR, and a
// UTF-8 byte-order mark before the first line is kept but not read as part
// of it. A line whose first non-blank character is '[' and which holds a ']'
// after it is a section header; the name lies between the '[' and the last
// ']'. Any other non-blank line of a section is an entry, keyed by the text
// before its first '=' (the whole line when there is none); lines starting
// with ';' are entries too, as Windows has no comments of its own. Names are
// matched with surrounding blanks trimmed and letter case ignored; the first
// matching section and key are the ones used. A replaced key's line becomes
// key=value in the file's spelling of the key, keeping its line ending. A new
// key follows the last entry of its section; a new section is appended at
// the end of the file. New lines end in CRLF.
//
// Known differences from Windows:
// - A relative file name (Windows: a file in the Windows directory) is
//   refused with ERROR_INVALID_PARAMETER; callers pass full paths.
// - Names and values that would change the file's structure are refused
//   with ERROR_INVALID_PARAMETER where Windows writes them and then reads
//   the file differently: CR or LF anywhere, '=' in a key name, a key name
//   starting with '[', an empty section name.
// - Only ASCII letters fold; UTF-16 files are read as ANSI bytes.
// - A value is written as given; Wine drops its leading blanks.
// - Nothing is cached, so the flush call (all arguments NULL) does nothing;
//   it returns FALSE, as documented for a flush.
// - The file is flushed to disk before the rename, the directory is not: a
//   crash may keep the old file, never a partial one.
#include "fault.h"
#include "native_path.h"
#include "os_error.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static const char kLineEnd[] = "\r\n";
static const char kByteOrderMark[] = "\xEF\xBB\xBF";

struct Slice {
    const char *text;
    size_t length;
};

// One line of the file: its content, then its line ending up to end.
struct Line {
    size_t start;
    size_t contentEnd;
    size_t end;
};

// Where the section and the key are, as far as they exist.
struct Place {
    BOOL sectionFound;
    Line header;
    size_t sectionEnd;
    Line lastEntry;
    BOOL keyFound;
    Line keyLine;
    Slice fileKey;
};

// The change to make: the bytes from cutStart to cutEnd give way to pieces.
struct Edit {
    size_t cutStart;
    size_t cutEnd;
    Slice pieces[10];
    int count;
};

static BOOL IsBlank(char c) { return c == ' ' || c == '\t'; }

static Slice MakeSlice(const char *text, size_t length)
{
    Slice slice = {text, length};
    return slice;
}

static Slice Trim(const char *text, size_t length)
{
    while (length > 0 && IsBlank(text[0])) {
        text++;
        length--;
    }
    while (length > 0 && IsBlank(text[length - 1]))
        length--;
    return MakeSlice(text, length);
}

static char FoldCase(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

static BOOL SameName(Slice a, Slice b)
{
    size_t i;

    if (a.length != b.length)
        return FALSE;
    for (i = 0; i < a.length; i++)
        if (FoldCase(a.text[i]) != FoldCase(b.text[i]))
            return FALSE;
    return TRUE;
}

static BOOL NextLine(const char *text, size_t length, size_t start, Line *line)
{
    size_t i = start;

    if (start >= length)
        return FALSE;
    while (i < length && text[i] != '\r' && text[i] != '\n')
        i++;
    line->start = start;
    line->contentEnd = i;
    if (i < length && text[i] == '\r') {
        i++;
        if (i < length && text[i] == '\n')
            i++;
    } else if (i < length) {
        i++;
    }
    line->end = i;
    return TRUE;
}

static BOOL IsBlankLine(const char *text, const Line *line)
{
    return Trim(text + line->start, line->contentEnd - line->start).length == 0;
}

static BOOL SectionHeader(const char *text, const Line *line, Slice *name)
{
    size_t open = line->start;
    size_t close;

    while (open < line->contentEnd && IsBlank(text[open]))
        open++;
    if (open == line->contentEnd || text[open] != '[')
        return FALSE;
    for (close = line->contentEnd - 1; close > open; close--) {
        if (text[close] == ']') {
            *name = Trim(text + open + 1, close - open - 1);
            return TRUE;
        }
    }
    return FALSE;
}

static Slice EntryKey(const char *text, const Line *line)
{
    const char *content = text + line->start;
    size_t length = line->contentEnd - line->start;
    const char *equals = (const char *)memchr(content, '=', length);

    return Trim(content, equals != NULL ? (size_t)(equals - content) : length);
}

// Finds the first section named section and in it the first entry named key
// (key.text NULL: no key wanted). Scanning starts at from, after any
// byte-order mark.
static void LocateKey(const char *text, size_t length, size_t from, Slice section, Slice key, Place *place)
{
    Line line;
    Slice name;
    BOOL inSection = FALSE;

    memset(place, 0, sizeof *place);
    place->sectionEnd = length;
    for (size_t at = from; NextLine(text, length, at, &line); at = line.end) {
        if (SectionHeader(text, &line, &name)) {
            if (inSection) {
                place->sectionEnd = line.start;
                return;
            }
            if (SameName(name, section)) {
                inSection = TRUE;
                place->sectionFound = TRUE;
                place->header = line;
                place->lastEntry = line;
            }
            continue;
        }
        if (!inSection || IsBlankLine(text, &line))
            continue;
        place->lastEntry = line;
        if (key.text != NULL && !place->keyFound && SameName(EntryKey(text, &line), key)) {
            place->keyFound = TRUE;
            place->keyLine = line;
            place->fileKey = EntryKey(text, &line);
        }
    }
}

static void AddPiece(Edit *edit, const char *text, size_t length)
{
    edit->pieces[edit->count++] = MakeSlice(text, length);
}

static void AddText(Edit *edit, const char *text) { AddPiece(edit, text, strlen(text)); }

static BOOL EndsWithLineEnd(const char *text, size_t length)
{
    return length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r');
}

// Plans the change. Returns FALSE when the file needs none.
static BOOL PlanEdit(const char *text, size_t length, size_t from, Slice section, Slice key,
                     LPCSTR value, Edit *edit)
{
    Place place;

    LocateKey(text, length, from, section, key, &place);
    edit->count = 0;
    if (key.text == NULL) {
        // Delete the section with everything in it, up to the next header.
        if (!place.sectionFound)
            return FALSE;
        edit->cutStart = place.header.start;
        edit->cutEnd = place.sectionEnd;
        return TRUE;
    }
    if (value == NULL) {
        if (!place.keyFound)
            return FALSE;
        edit->cutStart = place.keyLine.start;
        edit->cutEnd = place.keyLine.end;
        return TRUE;
    }
    if (place.keyFound) {
        edit->cutStart = place.keyLine.start;
        edit->cutEnd = place.keyLine.contentEnd;
        AddPiece(edit, place.fileKey.text, place.fileKey.length);
        AddText(edit, "=");
        AddText(edit, value);
        return TRUE;
    }
    if (place.sectionFound) {
        edit->cutStart = edit->cutEnd = place.lastEntry.end;
        if (place.lastEntry.contentEnd == place.lastEntry.end)
            AddText(edit, kLineEnd);
    } else {
        edit->cutStart = edit->cutEnd = length;
        if (length > from && !EndsWithLineEnd(text, length))
            AddText(edit, kLineEnd);
        AddText(edit, "[");
        AddPiece(edit, section.text, section.length);
        AddText(edit, "]");
        AddText(edit, kLineEnd);
    }
    AddPiece(edit, key.text, key.length);
    AddText(edit, "=");
    AddText(edit, value);
    AddText(edit, kLineEnd);
    return TRUE;
}

// The edited file in a new block (free it), its length in *newLength.
static char *ApplyEdit(const char *text, size_t length, const Edit *edit, size_t *newLength)
{
    size_t total = length - (edit->cutEnd - edit->cutStart);
    char *result;
    char *out;
    int i;

    for (i = 0; i < edit->count; i++)
        total += edit->pieces[i].length;
    result = (char *)malloc(total > 0 ? total : 1);
    if (result == NULL)
        return NULL;
    memcpy(result, text, edit->cutStart);
    out = result + edit->cutStart;
    for (i = 0; i < edit->count; i++) {
        memcpy(out, edit->pieces[i].text, edit->pieces[i].length);
        out += edit->pieces[i].length;
    }
    memcpy(out, text + edit->cutEnd, length - edit->cutEnd);
    *newLength = total;
    return result;
}

static BOOL HasLineBreak(LPCSTR text) { return strpbrk(text, "\r\n") != NULL; }

// Refuses what would forge other lines when read back: a line break
// anywhere, a key that would end early at its '=' or read as a section.
static BOOL NamesAreSafe(Slice section, LPCSTR key, Slice trimmedKey, LPCSTR value)
{
    if (section.length == 0 || memchr(section.text, '\r', section.length) != NULL ||
        memchr(section.text, '\n', section.length) != NULL)
        return FALSE;
    if (key != NULL && (HasLineBreak(key) || strchr(key, '=') != NULL ||
                        (trimmedKey.length > 0 && trimmedKey.text[0] == '[')))
        return FALSE;
    return value == NULL || !HasLineBreak(value);
}

// Reads the whole file into a new block (free it). A missing file reads as
// empty with *exists FALSE. Returns ERROR_SUCCESS or the failure.
static DWORD ReadProfile(const char *path, char **text, size_t *length, struct stat *st, BOOL *exists)
{
    // Non-blocking, so a FIFO in the file's place is refused, not waited on.
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    size_t done = 0;

    *text = NULL;
    *length = 0;
    *exists = FALSE;
    if (fd < 0)
        return errno == ENOENT ? ERROR_SUCCESS : ErrorFromErrno(errno, ERROR_ACCESS_DENIED);
    // A file without any write permission is read-only, and Windows does
    // not write into a read-only file.
    if (fstat(fd, st) != 0 || !S_ISREG(st->st_mode) || (st->st_mode & 0222) == 0) {
        close(fd);
        return ERROR_ACCESS_DENIED;
    }
    *text = (char *)malloc((size_t)st->st_size + 1);
    if (*text == NULL) {
        close(fd);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    while (done < (size_t)st->st_size) {
        ssize_t got = read(fd, *text + done, (size_t)st->st_size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            DWORD error = ErrorFromErrno(errno, ERROR_READ_FAULT);
            close(fd);
            free(*text);
            *text = NULL;
            return error;
        }
        if (got == 0)
            break;
        done += (size_t)got;
    }
    close(fd);
    *length = done;
    *exists = TRUE;
    return ERROR_SUCCESS;
}

static BOOL WriteAll(int fd, const char *bytes, size_t length)
{
    while (length > 0) {
        ssize_t put = write(fd, bytes, length);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = ENOSPC;
            return FALSE;
        }
        bytes += put;
        length -= (size_t)put;
    }
    return TRUE;
}

// Creates a temporary file next to path, new and only ours. Returns its
// descriptor and name, or -1 with errno set.
static int CreateTemporary(const char *path, char *name, size_t size)
{
    static unsigned counter;
    const char *slash = strrchr(path, '/');
    int directory = (int)(slash - path);
    int attempt;

    for (attempt = 0; attempt < 100; attempt++) {
        int fd;
        int written = snprintf(name, size, "%.*s/.%.200s.%ld-%u.tmp", directory, path, slash + 1,
                               (long)getpid(), counter++);
        if (written < 0 || (size_t)written >= size) {
            errno = ENAMETOOLONG;
            return -1;
        }
        fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Replaces the file at path by bytes, atomically. A file that existed (old
// not NULL) keeps its permissions and, where we may set it, its owner.
static DWORD ReplaceProfile(const char *path, const char *bytes, size_t length, const struct stat *old)
{
    char temporary[PATH_MAX];
    int fd = CreateTemporary(path, temporary, sizeof temporary);
    int error;

    if (fd < 0)
        return errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno, ERROR_ACCESS_DENIED);
    if (old != NULL) {
        if (fchown(fd, old->st_uid, old->st_gid) != 0) {
            // Only the owner can be kept only by a privileged caller; the
            // permissions below still are.
        }
        if (fchmod(fd, old->st_mode & 07777) != 0)
            goto failed;
    }
    if (!WriteAll(fd, bytes, length) || fsync(fd) != 0)
        goto failed;
    if (close(fd) != 0) {
        fd = -1;
        goto failed;
    }
    fd = -1;
    if (rename(temporary, path) != 0)
        goto failed;
    return ERROR_SUCCESS;

failed:
    error = errno;
    if (fd >= 0)
        close(fd);
    unlink(temporary);
    return ErrorFromErrno(error, ERROR_WRITE_FAULT);
}

// The native path of a Windows file name: full paths only, letter case of
// the file's own name as the directory spells it, symbolic links followed so
// that the link stays and its target is updated.
static DWORD ProfilePath(LPCSTR fileName, char *path, size_t size)
{
    struct stat st;
    char resolved[PATH_MAX];

    if (!NativePath(fileName, path, size))
        return GetLastError();
    if (path[0] != '/')
        return ERROR_INVALID_PARAMETER;
    MatchNameCase(path);
    if (lstat(path, &st) != 0 || !S_ISLNK(st.st_mode))
        return ERROR_SUCCESS;
    if (realpath(path, resolved) == NULL)
        return ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND);
    if (strlen(resolved) >= size)
        return ERROR_FILENAME_EXCED_RANGE;
    memcpy(path, resolved, strlen(resolved) + 1);
    return ERROR_SUCCESS;
}

static BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName)
{
    char path[PATH_MAX];
    char *text;
    char *edited;
    size_t length;
    size_t editedLength;
    size_t from;
    struct stat st;
    BOOL exists;
    Slice section;
    Slice key = MakeSlice(NULL, 0);
    Edit edit;
    DWORD error;

    if (FaultPoint(ERROR_ACCESS_DENIED))
        return FALSE;
    if (lpAppName == NULL) {
        if (lpKeyName == NULL && lpString == NULL)
            return FALSE;
        return Fail(ERROR_FILE_NOT_FOUND);
    }
    if (lpFileName == NULL)
        return Fail(ERROR_INVALID_PARAMETER);
    section = Trim(lpAppName, strlen(lpAppName));
    if (lpKeyName != NULL)
        key = Trim(lpKeyName, strlen(lpKeyName));
    if (!NamesAreSafe(section, lpKeyName, key, lpString))
        return Fail(ERROR_INVALID_PARAMETER);
    error = ProfilePath(lpFileName, path, sizeof path);
    if (error != ERROR_SUCCESS)
        return Fail(error);

    error = ReadProfile(path, &text, &length, &st, &exists);
    if (error != ERROR_SUCCESS)
        return Fail(error);
    from = length >= 3 && memcmp(text, kByteOrderMark, 3) == 0 ? 3 : 0;
    if (!PlanEdit(text, length, from, section, key, lpString, &edit)) {
        free(text);
        return TRUE;
    }
    edited = ApplyEdit(text != NULL ? text : "", length, &edit, &editedLength);
    if (edited == NULL) {
        free(text);
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    if (exists && editedLength == length && memcmp(edited, text, length) == 0)
        error = ERROR_SUCCESS;
    else
        error = ReplaceProfile(path, edited, editedLength, exists ? &st : NULL);
    free(edited);
    free(text);
    if (error != ERROR_SUCCESS)
        return Fail(error);
    return TRUE;
}
