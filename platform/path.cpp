// Path joining shared by every part of the core; knows no operating system.
#include "platform.h"

BOOL JoinPath(LPSTR path, int size, LPCSTR dir, LPCSTR name)
{
    int dirLength = lstrlenA(dir);
    int nameLength = lstrlenA(name);

    if (size < 1)
        return FALSE;
    if (nameLength > size - 1 || dirLength > size - 1 - nameLength) {
        path[0] = '\0';
        return FALSE;
    }
    lstrcpyA(path, dir);
    lstrcatA(path, name);
    return TRUE;
}
