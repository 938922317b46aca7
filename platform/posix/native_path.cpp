// Path translation for the emulation; see native_path.h.
#include "native_path.h"

#include <dirent.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

BOOL NativePath(LPCSTR path, char *out, size_t size)
{
    size_t length;
    size_t i;

    if (path == NULL || path[0] == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    length = strlen(path);
    if (length >= size) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    for (i = 0; i <= length; i++)
        out[i] = path[i] == '\\' ? '/' : path[i];
    return TRUE;
}

void MatchNameCase(char *path)
{
    struct stat st;
    char *slash;
    const char *name;
    DIR *dir;
    struct dirent *entry;

    if (lstat(path, &st) == 0)
        return;
    slash = strrchr(path, '/');
    name = slash ? slash + 1 : path;
    if (name[0] == '\0')
        return;
    if (slash == path)
        dir = opendir("/");
    else if (slash) {
        *slash = '\0';
        dir = opendir(path);
        *slash = '/';
    } else
        dir = opendir(".");
    if (dir == NULL)
        return;
    while ((entry = readdir(dir)) != NULL) {
        if (strlen(entry->d_name) == strlen(name) && strcasecmp(entry->d_name, name) == 0) {
            memcpy((char *)name, entry->d_name, strlen(name));
            break;
        }
    }
    closedir(dir);
}
