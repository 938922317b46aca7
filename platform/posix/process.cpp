// WinExec: starts a program from a command line and returns without waiting.
//
// The program is found as Windows finds it. A command line that starts with
// a double quote names the program up to the closing quote. Otherwise each
// blank in turn ends a candidate name, shortest first, and the first one
// that names a file runs: unquoted, "/tmp/my dir/setup.exe" starts
// "/tmp/my.exe" when there is one, which is why callers quote. A candidate
// whose last component has no extension is tried as it stands, then with
// ".exe" appended. A name without a directory is looked up in the
// directories of PATH. The file's own name matches ignoring letter case, as
// "setup.exe" names "Setup.exe" on Windows.
//
// The rest of the line becomes the arguments, split as the Windows C runtime
// splits them: blanks separate; double quotes group; 2n backslashes before a
// quote give n backslashes and the quote groups, 2n+1 give n backslashes and
// a literal quote; other backslashes are literal. The program gets its found
// path as its first argument and the launcher's environment.
//
// No shell is involved. The program is started through an intermediate
// child that exits at once and is reaped, so the program belongs to no one
// here and never lingers as a zombie; it runs in a session of its own, with
// default signal handling, and inherits only standard input, output and
// error. Whether the program could be started is reported back through a
// close-on-exec pipe: end of file means it runs, an errno means it did not.
//
// Windows has no execute permission. A program file lacking it is given
// the owner's execute bit when the caller owns the file (the launcher owns
// what it unpacked); a foreign file stays as it is and fails to start.
//
// Results as on Windows: 33 when the program started; otherwise 0 when the
// system is out of resources, ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
// ERROR_BAD_FORMAT (the file is neither an ELF image nor a "#!" script), or
// ERROR_ACCESS_DENIED.
//
// Known differences from Windows: the show mode is ignored, as there are no
// windows; a bare name is searched in PATH only, never in the current or a
// system directory; a name without an extension is tried before ".exe"
// (Windows tries only ".exe"), since programs here carry no extension; only
// the last path component matches ignoring case; the argument rule for ""
// inside quotes is not emulated.
#include "fault.h"
#include "native_path.h"
#include "os_error.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static const UINT kStarted = 33;
static const int kStartAttempts = 3;

static BOOL IsBlank(char c) { return c == ' ' || c == '\t'; }

static UINT Failed(DWORD error)
{
    SetLastError(error);
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_FORMAT:
        return (UINT)error;
    default:
        return 0;
    }
}

static BOOL IsRegularFile(const char *path)
{
    struct stat st;

    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

// Whether the directory part of path exists: tells a missing file from a
// missing directory, as Windows does.
static BOOL DirectoryExists(const char *path)
{
    char directory[PATH_MAX];
    const char *slash = strrchr(path, '/');
    struct stat st;
    size_t length;

    if (slash == NULL)
        return TRUE;
    length = slash == path ? 1 : (size_t)(slash - path);
    memcpy(directory, path, length);
    directory[length] = '\0';
    return stat(directory, &st) == 0 && S_ISDIR(st.st_mode);
}

static BOOL HasExtension(const char *path)
{
    const char *slash = strrchr(path, '/');

    return strchr(slash != NULL ? slash + 1 : path, '.') != NULL;
}

// Tries path as it stands, then with ".exe" when it has no extension; the
// file's own name matches ignoring case. Fills found on success.
static DWORD TryProgram(const char *path, char *found, size_t size)
{
    size_t length = strlen(path);

    if (length >= size)
        return ERROR_FILE_NOT_FOUND;
    memcpy(found, path, length + 1);
    MatchNameCase(found);
    if (IsRegularFile(found))
        return ERROR_SUCCESS;
    if (!HasExtension(path) && length + 4 < size) {
        memcpy(found, path, length);
        memcpy(found + length, ".exe", 5);
        MatchNameCase(found);
        if (IsRegularFile(found))
            return ERROR_SUCCESS;
    }
    return DirectoryExists(path) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

// A bare program name: the first directory of PATH that holds it. Empty
// entries (the current directory) are skipped.
static DWORD SearchPathList(const char *name, char *found, size_t size)
{
    const char *list = getenv("PATH");
    char candidate[PATH_MAX];

    if (list == NULL)
        return ERROR_FILE_NOT_FOUND;
    while (*list != '\0') {
        const char *end = strchr(list, ':');
        size_t length = end != NULL ? (size_t)(end - list) : strlen(list);
        size_t nameLength = strlen(name);

        if (length > 0 && length + 1 + nameLength < sizeof candidate) {
            memcpy(candidate, list, length);
            candidate[length] = '/';
            memcpy(candidate + length + 1, name, nameLength + 1);
            if (TryProgram(candidate, found, size) == ERROR_SUCCESS)
                return ERROR_SUCCESS;
        }
        list += length;
        if (*list == ':')
            list++;
    }
    return ERROR_FILE_NOT_FOUND;
}

// One candidate program name, length bytes of a Windows command line.
static DWORD FindProgram(const char *text, size_t length, char *found, size_t size)
{
    char name[PATH_MAX];
    char native[PATH_MAX];

    if (length == 0)
        return ERROR_FILE_NOT_FOUND;
    if (length >= sizeof name)
        return ERROR_FILENAME_EXCED_RANGE;
    memcpy(name, text, length);
    name[length] = '\0';
    if (!NativePath(name, native, sizeof native))
        return GetLastError();
    if (strchr(native, '/') == NULL)
        return SearchPathList(native, found, size);
    return TryProgram(native, found, size);
}

// Finds the program a command line names; *rest is where its arguments
// begin.
static DWORD ResolveCommandLine(LPCSTR line, char *found, size_t size, const char **rest)
{
    const char *start = line;
    const char *at;
    DWORD status = ERROR_FILE_NOT_FOUND;

    while (IsBlank(*start))
        start++;
    if (*start == '"') {
        const char *close = strchr(start + 1, '"');
        size_t length = close != NULL ? (size_t)(close - start - 1) : strlen(start + 1);
        *rest = close != NULL ? close + 1 : start + 1 + length;
        return FindProgram(start + 1, length, found, size);
    }
    for (at = start;; at++) {
        if (*at == '\0' || IsBlank(*at)) {
            status = FindProgram(start, (size_t)(at - start), found, size);
            if (status == ERROR_SUCCESS) {
                *rest = at;
                return ERROR_SUCCESS;
            }
        }
        if (*at == '\0')
            return status;
    }
}

// Splits text into arguments, written into strings (strlen(text) + 1 bytes)
// and listed in argv from index 1 on; argv needs strlen(text) + 3 slots.
static void SplitArguments(const char *text, char *strings, char **argv)
{
    const char *in = text;
    char *out = strings;
    int count = 1;

    for (;;) {
        BOOL quoted = FALSE;

        while (IsBlank(*in))
            in++;
        if (*in == '\0')
            break;
        argv[count++] = out;
        while (*in != '\0' && (quoted || !IsBlank(*in))) {
            if (*in == '\\') {
                size_t slashes = strspn(in, "\\");
                size_t emit = in[slashes] == '"' ? slashes / 2 : slashes;
                memset(out, '\\', emit);
                out += emit;
                in += slashes;
                if (*in == '"' && slashes % 2 == 1)
                    *out++ = *in++;
            } else if (*in == '"') {
                quoted = !quoted;
                in++;
            } else {
                *out++ = *in++;
            }
        }
        *out++ = '\0';
    }
    argv[count] = NULL;
}

// Checks that path holds a program this system runs, and gives a program
// file of ours the execute bit Windows does not have.
static DWORD PrepareProgram(const char *path)
{
    char magic[4];
    ssize_t got;
    struct stat st;
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);

    if (fd < 0)
        return ErrorFromErrno(errno, ERROR_ACCESS_DENIED);
    do
        got = read(fd, magic, sizeof magic);
    while (got < 0 && errno == EINTR);
    if (fstat(fd, &st) != 0) {
        close(fd);
        return ERROR_ACCESS_DENIED;
    }
    close(fd);
    if (!(got == 4 && memcmp(magic, "\177ELF", 4) == 0) && !(got >= 2 && memcmp(magic, "#!", 2) == 0))
        return ERROR_BAD_FORMAT;
    if (access(path, X_OK) != 0 && st.st_uid == geteuid())
        chmod(path, (st.st_mode & 07777) | S_IXUSR);
    return ERROR_SUCCESS;
}

// In the started program's process, before exec: only calls that are safe
// after fork in a threaded process.
static void ResetSignals(void)
{
    struct sigaction dfl;
    sigset_t none;
    int sig;

    memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    for (sig = 1; sig < NSIG; sig++)
        sigaction(sig, &dfl, NULL);
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, NULL);
}

// Marks every descriptor above standard error close-on-exec.
static void CloseInheritedDescriptors(void)
{
    struct rlimit limit;
    int fd;
    int last = 65536;

    if (close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0)
        return;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < (rlim_t)last)
        last = (int)limit.rlim_cur;
    for (fd = 3; fd < last; fd++) {
        int flags = fcntl(fd, F_GETFD);
        if (flags >= 0 && !(flags & FD_CLOEXEC))
            fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

[[noreturn]] static void ReportAndExit(int report, int error)
{
    ssize_t ignored = write(report, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

// The intermediate child: forks the program's process and exits, so that
// the program is reparented and the caller only has this child to reap.
[[noreturn]] static void StartDetached(const char *path, char *const argv[], int report)
{
    pid_t program = fork();

    if (program < 0)
        ReportAndExit(report, errno);
    if (program > 0)
        _exit(0);
    setsid();
    ResetSignals();
    CloseInheritedDescriptors();
    execve(path, argv, environ);
    ReportAndExit(report, errno);
}

static UINT Spawn(const char *path, char *const argv[])
{
    int report[2];
    int error = 0;
    int status;
    ssize_t got;
    pid_t child;

    if (pipe2(report, O_CLOEXEC) != 0)
        return Failed(ERROR_NOT_ENOUGH_MEMORY);
    child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return Failed(ERROR_NOT_ENOUGH_MEMORY);
    }
    if (child == 0)
        StartDetached(path, argv, report[1]);
    close(report[1]);
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    do
        got = read(report[0], &error, sizeof error);
    while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got == 0)
        return kStarted;
    if (got != (ssize_t)sizeof error)
        return Failed(ERROR_NOT_ENOUGH_MEMORY);
    if (error == ENOEXEC)
        return Failed(ERROR_BAD_FORMAT);
    if (error == ENOMEM || error == EAGAIN || error == E2BIG)
        return Failed(ERROR_NOT_ENOUGH_MEMORY);
    return Failed(ErrorFromErrno(error, ERROR_ACCESS_DENIED));
}

UINT WinExec(LPCSTR lpCmdLine, UINT uCmdShow)
{
    char path[PATH_MAX];
    const char *rest = NULL;
    char *strings;
    char **argv;
    size_t restLength;
    DWORD status;
    UINT result;
    int attempt;

    (void)uCmdShow;
    if (FaultPoint(ERROR_NOT_ENOUGH_MEMORY))
        return 0;
    if (lpCmdLine == NULL)
        return Failed(ERROR_FILE_NOT_FOUND);
    status = ResolveCommandLine(lpCmdLine, path, sizeof path, &rest);
    if (status != ERROR_SUCCESS)
        return Failed(status);
    status = PrepareProgram(path);
    if (status != ERROR_SUCCESS)
        return Failed(status);

    restLength = strlen(rest);
    strings = (char *)malloc(restLength + 1);
    argv = (char **)malloc((restLength + 3) * sizeof *argv);
    if (strings == NULL || argv == NULL) {
        free(strings);
        free(argv);
        return Failed(ERROR_NOT_ENOUGH_MEMORY);
    }
    argv[0] = path;
    SplitArguments(rest, strings, argv);
    // Another process may move a fresh copy over the program between its
    // preparation and the exec (a second launcher unpacking the same
    // payload); the fresh copy lacks the execute bit again, so it is
    // prepared and tried once more.
    for (attempt = 0;; attempt++) {
        result = Spawn(path, argv);
        if (result != ERROR_ACCESS_DENIED || attempt == kStartAttempts - 1 ||
            PrepareProgram(path) != ERROR_SUCCESS)
            break;
    }
    free(strings);
    free(argv);
    return result;
}
