// lstrcpyA, lstrcpynA, lstrcatA, lstrlenA: byte strings in the ANSI code page,
// copied byte by byte without regard to double-byte characters, as Windows
// does.
//
// Known difference: Windows runs these under an exception handler and returns
// NULL (or 0) when a pointer faults. Here only a NULL pointer is caught; any
// other bad pointer faults as it would in plain C.
#include "os.h"

LPSTR lstrcpyA(LPSTR lpString1, LPCSTR lpString2)
{
    LPSTR out = lpString1;

    if (lpString1 == NULL || lpString2 == NULL)
        return NULL;
    while ((*out++ = *lpString2++) != '\0')
        ;
    return lpString1;
}

// Copies at most iMaxLength - 1 bytes and always terminates. Windows turns a
// negative iMaxLength into a huge unsigned count, an unbounded copy; here any
// count below 1 writes nothing.
LPSTR lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength)
{
    LPSTR out = lpString1;
    int room = iMaxLength;

    if (lpString1 == NULL || lpString2 == NULL)
        return NULL;
    if (room < 1)
        return lpString1;
    while (room > 1 && *lpString2 != '\0') {
        *out++ = *lpString2++;
        room--;
    }
    *out = '\0';
    return lpString1;
}

LPSTR lstrcatA(LPSTR lpString1, LPCSTR lpString2)
{
    if (lpString1 == NULL || lpString2 == NULL)
        return NULL;
    lstrcpyA(lpString1 + lstrlenA(lpString1), lpString2);
    return lpString1;
}

int lstrlenA(LPCSTR lpString)
{
    LPCSTR end = lpString;

    if (lpString == NULL)
        return 0;
    while (*end != '\0')
        end++;
    return (int)(end - lpString);
}
