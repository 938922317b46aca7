// Registry keys of HKEY_CURRENT_USER, emulated as a tree of directories.
//
// Every key is a directory below <config>/launcher-registry/HKEY_CURRENT_USER,
// where <config> is $XDG_CONFIG_HOME when it holds an absolute path and
// $HOME/.config otherwise. Only the presence of keys is kept; values are not
// emulated. Key names compare ignoring letter case, as in the registry, and
// keep the spelling of whoever created them first. Empty components ("a\\b"
// with a doubled separator, or a trailing one) are skipped, and a leading
// separator is refused with ERROR_BAD_PATHNAME, as Windows does.
//
// A key name may hold any character but '\', while a directory name may not
// hold '/' and may not be "." or "..". Such names are stored encoded, never
// refused and never resolved as paths: '%' becomes %25 and '/' becomes %2F,
// and a whole component "." or ".." becomes %2E or %2E%2E. No key name can
// therefore reach outside the store.
//
// Known differences from Windows:
// - Only HKEY_CURRENT_USER and keys opened below it serve as roots; any other
//   predefined key is an invalid handle.
// - Only ASCII letters fold; Windows also folds other letters.
// - Access masks, security attributes and REG_OPTION_VOLATILE are ignored;
//   what a caller may do is what the file system lets it do.
// - A component whose encoded form exceeds the file system's name limit
//   (a key name longer than 255 characters, or a long run of '/' or '%')
//   is refused with ERROR_INVALID_PARAMETER.
// - A key deleted while a handle to it is open keeps the handle valid, but
//   the handle then names nothing.
#include "fault.h"
#include "os_error.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <pthread.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// Registry key names are limited to 255 characters per component.
static const size_t kMaxKeyName = 255;

static const char kStoreName[] = "launcher-registry";
static const char kRootName[] = "HKEY_CURRENT_USER";

// An open key: the directory it names. Open keys are kept in a list so that a
// stale or foreign handle is recognised without being dereferenced.
struct HKEY__ {
    struct HKEY__ *next;
    char path[PATH_MAX];
};

static struct HKEY__ *open_keys;
static pthread_mutex_t open_keys_lock = PTHREAD_MUTEX_INITIALIZER;

static BOOL CopyBounded(char *out, size_t size, const char *text)
{
    size_t length = strlen(text);

    if (length >= size)
        return FALSE;
    memcpy(out, text, length + 1);
    return TRUE;
}

static BOOL AppendBounded(char *out, size_t size, const char *text)
{
    size_t used = strlen(out);

    return CopyBounded(out + used, size - used, text);
}

// The per-user configuration directory: $XDG_CONFIG_HOME when absolute (the
// base directory rules ignore a relative one), else $HOME/.config, else the
// account's home directory from the user database.
static BOOL ConfigDirectory(char *out, size_t size)
{
    const char *config = getenv("XDG_CONFIG_HOME");
    const char *home = getenv("HOME");
    struct passwd entry;
    struct passwd *found = NULL;
    char records[1024];

    if (config != NULL && config[0] == '/')
        return CopyBounded(out, size, config);
    if (home == NULL || home[0] != '/') {
        if (getpwuid_r(getuid(), &entry, records, sizeof records, &found) != 0 || found == NULL)
            return FALSE;
        home = found->pw_dir;
        if (home == NULL || home[0] != '/')
            return FALSE;
    }
    return CopyBounded(out, size, home) && AppendBounded(out, size, "/.config");
}

// The directory of HKEY_CURRENT_USER itself.
static LSTATUS StoreRoot(char *out, size_t size)
{
    if (!ConfigDirectory(out, size))
        return ERROR_FILE_NOT_FOUND;
    if (!AppendBounded(out, size, "/") || !AppendBounded(out, size, kStoreName) ||
        !AppendBounded(out, size, "/") || !AppendBounded(out, size, kRootName))
        return ERROR_FILENAME_EXCED_RANGE;
    return ERROR_SUCCESS;
}

// The directory a root handle names: the store root for HKEY_CURRENT_USER,
// the recorded directory for a key this process opened.
static LSTATUS KeyDirectory(HKEY hKey, char *out, size_t size)
{
    struct HKEY__ *key;
    LSTATUS status = ERROR_INVALID_HANDLE;

    if (hKey == HKEY_CURRENT_USER)
        return StoreRoot(out, size);
    pthread_mutex_lock(&open_keys_lock);
    for (key = open_keys; key != NULL; key = key->next) {
        if (key == hKey) {
            status = CopyBounded(out, size, key->path) ? ERROR_SUCCESS : ERROR_FILENAME_EXCED_RANGE;
            break;
        }
    }
    pthread_mutex_unlock(&open_keys_lock);
    return status;
}

static LSTATUS NewKeyHandle(const char *path, PHKEY phkResult)
{
    struct HKEY__ *key = (struct HKEY__ *)malloc(sizeof *key);

    if (key == NULL)
        return ERROR_NOT_ENOUGH_MEMORY;
    memcpy(key->path, path, strlen(path) + 1);
    pthread_mutex_lock(&open_keys_lock);
    key->next = open_keys;
    open_keys = key;
    pthread_mutex_unlock(&open_keys_lock);
    ResourceTaken(RESOURCE_KEY);
    *phkResult = key;
    return ERROR_SUCCESS;
}

// Encodes one key name component (length bytes, no '\') as a directory name.
static LSTATUS EncodeComponent(const char *name, size_t length, char *out, size_t size)
{
    static const char hex[] = "0123456789ABCDEF";
    size_t used = 0;
    size_t i;

    if (length > kMaxKeyName)
        return ERROR_INVALID_PARAMETER;
    if ((length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.')) {
        if (size < length * 3 + 1)
            return ERROR_INVALID_PARAMETER;
        for (i = 0; i < length; i++, used += 3)
            memcpy(out + used, "%2E", 3);
        out[used] = '\0';
        return ERROR_SUCCESS;
    }
    for (i = 0; i < length; i++) {
        unsigned char c = (unsigned char)name[i];
        if (c == '/' || c == '%') {
            if (used + 3 >= size)
                return ERROR_INVALID_PARAMETER;
            out[used++] = '%';
            out[used++] = hex[c >> 4];
            out[used++] = hex[c & 15];
        } else {
            if (used + 1 >= size)
                return ERROR_INVALID_PARAMETER;
            out[used++] = (char)c;
        }
    }
    out[used] = '\0';
    return ERROR_SUCCESS;
}

// Two encoded names name the same key when they differ only in the case of
// ASCII letters. Encoding never makes a letter out of something else, and
// its %XX escapes always use upper-case digits, so comparing the encoded
// forms compares the key names.
static BOOL SameKeyName(const char *a, const char *b)
{
    size_t i;

    for (i = 0; a[i] != '\0' && b[i] != '\0'; i++) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? (char)(a[i] - 'a' + 'A') : a[i];
        char y = b[i] >= 'a' && b[i] <= 'z' ? (char)(b[i] - 'a' + 'A') : b[i];
        if (x != y)
            return FALSE;
    }
    return a[i] == b[i];
}

static BOOL IsKeyDirectory(const char *path)
{
    struct stat st;

    return lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Appends to path (the parent key's directory, size bytes) the subkey whose
// encoded name is encoded, in the spelling it is stored under. Returns
// ERROR_SUCCESS, ERROR_FILE_NOT_FOUND with path unchanged, or another error.
static LSTATUS FindSubkey(char *path, size_t size, const char *encoded)
{
    size_t parent = strlen(path);
    DIR *dir;
    struct dirent *entry;
    LSTATUS status = ERROR_FILE_NOT_FOUND;

    if (!AppendBounded(path, size, "/") || !AppendBounded(path, size, encoded)) {
        path[parent] = '\0';
        return ERROR_FILENAME_EXCED_RANGE;
    }
    if (IsKeyDirectory(path))
        return ERROR_SUCCESS;
    path[parent] = '\0';
    dir = opendir(path);
    if (dir == NULL)
        return errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND
                                                   : ErrorFromErrno(errno, ERROR_ACCESS_DENIED);
    while ((entry = readdir(dir)) != NULL) {
        if (!SameKeyName(entry->d_name, encoded))
            continue;
        path[parent] = '/';
        memcpy(path + parent + 1, entry->d_name, strlen(entry->d_name) + 1);
        if (IsKeyDirectory(path)) {
            status = ERROR_SUCCESS;
            break;
        }
        path[parent] = '\0';
    }
    closedir(dir);
    return status;
}

// Creates the subkey encoded below path and appends it. Another process may
// create it at the same moment, in any spelling: then its key is the one.
static LSTATUS CreateSubkey(char *path, size_t size, const char *encoded, BOOL *created)
{
    size_t parent = strlen(path);
    LSTATUS status;

    if (!AppendBounded(path, size, "/") || !AppendBounded(path, size, encoded)) {
        path[parent] = '\0';
        return ERROR_FILENAME_EXCED_RANGE;
    }
    if (mkdir(path, 0700) == 0) {
        *created = TRUE;
        return ERROR_SUCCESS;
    }
    status = ErrorFromErrno(errno, ERROR_ACCESS_DENIED);
    path[parent] = '\0';
    if (errno != EEXIST)
        return status;
    status = FindSubkey(path, size, encoded);
    // Something that is not a key holds the name.
    return status == ERROR_FILE_NOT_FOUND ? ERROR_ACCESS_DENIED : status;
}

// Takes the next component of the subkey name at *cursor, skipping empty
// ones, and encodes it. Returns FALSE at the end of the name or, with
// *status set, for a component that is no valid key name.
static BOOL NextComponent(const char **cursor, char *encoded, size_t size, LSTATUS *status)
{
    *status = ERROR_SUCCESS;
    while (**cursor == '\\')
        (*cursor)++;
    if (**cursor == '\0')
        return FALSE;
    const char *end = strchr(*cursor, '\\');
    size_t length = end != NULL ? (size_t)(end - *cursor) : strlen(*cursor);
    *status = EncodeComponent(*cursor, length, encoded, size);
    *cursor += length;
    return *status == ERROR_SUCCESS;
}

// Checks every component first, so that a bad name creates nothing.
static LSTATUS CheckSubkeyName(LPCSTR subKey)
{
    char encoded[NAME_MAX + 1];
    LSTATUS status;

    while (NextComponent(&subKey, encoded, sizeof encoded, &status)) {
    }
    return status;
}

// Walks subKey below the key directory in path, component by component,
// leaving path at the key it names. With create, missing keys are made and
// *created tells whether the last one was.
static LSTATUS WalkSubkey(char *path, size_t size, LPCSTR subKey, BOOL create, BOOL *created)
{
    char encoded[NAME_MAX + 1];
    LSTATUS status = CheckSubkeyName(subKey);

    if (status != ERROR_SUCCESS)
        return status;
    while (NextComponent(&subKey, encoded, sizeof encoded, &status)) {
        if (create)
            *created = FALSE;
        status = FindSubkey(path, size, encoded);
        if (status == ERROR_FILE_NOT_FOUND && create)
            status = CreateSubkey(path, size, encoded, created);
        if (status != ERROR_SUCCESS)
            return status;
    }
    return status;
}

// Creates the store root with the directories leading to it, private to the
// user.
static LSTATUS MakeStoreRoot(char *path)
{
    char *slash;

    for (slash = strchr(path + 1, '/');; slash = strchr(slash + 1, '/')) {
        if (slash != NULL)
            *slash = '\0';
        if (mkdir(path, 0700) != 0 && errno != EEXIST) {
            int error = errno;
            if (slash != NULL)
                *slash = '/';
            return ErrorFromErrno(error, ERROR_ACCESS_DENIED);
        }
        if (slash == NULL)
            break;
        *slash = '/';
    }
    return IsKeyDirectory(path) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// Serialises the look-then-create steps of concurrent creators, so that two
// of them never create the same key in two spellings. Returns the locked
// descriptor of the store root, or -1 when the lock can't be had (creation
// then relies on mkdir alone, which still never loses a key).
static int LockStore(void)
{
    char root[PATH_MAX];
    int fd;

    if (StoreRoot(root, sizeof root) != ERROR_SUCCESS)
        return -1;
    fd = open(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC);

    if (fd < 0)
        return -1;
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            close(fd);
            return -1;
        }
    }
    return fd;
}

static void UnlockStore(int fd)
{
    if (fd >= 0)
        close(fd);
}

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                      PHKEY phkResult)
{
    char path[PATH_MAX];
    LSTATUS status;

    (void)ulOptions;
    (void)samDesired;
    if (phkResult == NULL)
        return ERROR_INVALID_PARAMETER;
    *phkResult = NULL;
    if (FaultPoint(ERROR_ACCESS_DENIED))
        return ERROR_ACCESS_DENIED;
    status = KeyDirectory(hKey, path, sizeof path);
    if (status != ERROR_SUCCESS)
        return status;
    if (lpSubKey == NULL || lpSubKey[0] == '\0') {
        // The key itself; a predefined key is its own handle.
        if (hKey == HKEY_CURRENT_USER) {
            *phkResult = hKey;
            return ERROR_SUCCESS;
        }
        return NewKeyHandle(path, phkResult);
    }
    if (lpSubKey[0] == '\\')
        return ERROR_BAD_PATHNAME;
    status = WalkSubkey(path, sizeof path, lpSubKey, FALSE, NULL);
    if (status != ERROR_SUCCESS)
        return status;
    return NewKeyHandle(path, phkResult);
}

LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                        DWORD dwOptions, REGSAM samDesired,
                        LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                        LPDWORD lpdwDisposition)
{
    char path[PATH_MAX];
    BOOL created = FALSE;
    LSTATUS status;
    int lock;

    (void)lpClass;
    (void)dwOptions;
    (void)samDesired;
    (void)lpSecurityAttributes;
    if (phkResult == NULL)
        return ERROR_INVALID_PARAMETER;
    *phkResult = NULL;
    if (FaultPoint(ERROR_ACCESS_DENIED))
        return ERROR_ACCESS_DENIED;
    if (Reserved != 0)
        return ERROR_INVALID_PARAMETER;
    if (lpSubKey == NULL)
        lpSubKey = "";
    if (lpSubKey[0] == '\\')
        return ERROR_BAD_PATHNAME;
    status = KeyDirectory(hKey, path, sizeof path);
    if (status != ERROR_SUCCESS)
        return status;
    if (hKey == HKEY_CURRENT_USER) {
        status = MakeStoreRoot(path);
        if (status != ERROR_SUCCESS)
            return status;
    }
    lock = LockStore();
    status = WalkSubkey(path, sizeof path, lpSubKey, TRUE, &created);
    UnlockStore(lock);
    if (status != ERROR_SUCCESS)
        return status;
    status = NewKeyHandle(path, phkResult);
    if (status == ERROR_SUCCESS && lpdwDisposition != NULL)
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return status;
}

LSTATUS RegCloseKey(HKEY hKey)
{
    struct HKEY__ **link;
    struct HKEY__ *key = NULL;

    if (hKey == HKEY_CURRENT_USER)
        return ERROR_SUCCESS;
    pthread_mutex_lock(&open_keys_lock);
    for (link = &open_keys; *link != NULL; link = &(*link)->next) {
        if (*link == hKey) {
            key = *link;
            *link = key->next;
            break;
        }
    }
    pthread_mutex_unlock(&open_keys_lock);
    if (key == NULL)
        return ERROR_INVALID_HANDLE;
    free(key);
    ResourceReleased(RESOURCE_KEY);
    return ERROR_SUCCESS;
}

static int RemoveOne(const char *path, int type)
{
    int result = type == FTW_DP ? rmdir(path) : unlink(path);

    return result == 0 ? 0 : errno;
}

static int RemoveBelow(const char *path, const struct stat *st, int type, struct FTW *where)
{
    (void)st;
    return where->level == 0 ? 0 : RemoveOne(path, type);
}

static int RemoveAll(const char *path, const struct stat *st, int type, struct FTW *where)
{
    (void)st;
    (void)where;
    return RemoveOne(path, type);
}

// Removes everything below the key directory path, and the key itself when
// withKey is set. Depth first, never following links out of the store.
static LSTATUS RemoveKeyTree(const char *path, BOOL withKey)
{
    int result = nftw(path, withKey ? RemoveAll : RemoveBelow, 16, FTW_DEPTH | FTW_PHYS);

    if (result == 0)
        return ERROR_SUCCESS;
    return ErrorFromErrno(result > 0 ? result : errno, ERROR_ACCESS_DENIED);
}

LSTATUS RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey)
{
    char path[PATH_MAX];
    LSTATUS status;

    if (FaultPoint(ERROR_ACCESS_DENIED))
        return ERROR_ACCESS_DENIED;
    status = KeyDirectory(hKey, path, sizeof path);
    if (status != ERROR_SUCCESS)
        return status;
    if (lpSubKey == NULL || lpSubKey[0] == '\0') {
        // The key's subkeys go, the key stays.
        if (!IsKeyDirectory(path))
            return hKey == HKEY_CURRENT_USER ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
        return RemoveKeyTree(path, FALSE);
    }
    if (lpSubKey[0] == '\\')
        return ERROR_BAD_PATHNAME;
    status = WalkSubkey(path, sizeof path, lpSubKey, FALSE, NULL);
    if (status != ERROR_SUCCESS)
        return status;
    return RemoveKeyTree(path, TRUE);
}
