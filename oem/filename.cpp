// The launcher's own file name, split out of its full path over the ANSI
// code page: in a double-byte code page the trailing byte of a character may
// equal '\', '/' or '.', and such a byte separates nothing.
#include "oem.h"

// Name and extension each keep at most this many bytes.
static const int kMaxPart = 255;

// Bytes taken by the character at p. A lead byte with nothing after it stands
// alone, so a string cut inside a character is never read past its NUL.
static int CharLength(LPCSTR p)
{
    if (IsDBCSLeadByte((BYTE)p[0]) && p[1] != '\0')
        return 2;
    return 1;
}

// How many of the length bytes at part fit in limit bytes without cutting a
// double-byte character in two.
static int FitPart(LPCSTR part, int length, int limit)
{
    int taken = 0;
    int step;

    while (taken < length) {
        step = CharLength(part + taken);
        if (taken + step > limit || taken + step > length)
            break;
        taken += step;
    }
    return taken;
}

// A drive is one single-byte character and a colon at the very start.
static LPCSTR SkipDrive(LPCSTR path)
{
    if (path[0] != '\0' && !IsDBCSLeadByte((BYTE)path[0]) && path[1] == ':')
        return path + 2;
    return path;
}

void GetLauncherFileName(LPCSTR launcherPath, LPSTR fileName, int size)
{
    LPCSTR p = SkipDrive(launcherPath);
    LPCSTR name = p;
    LPCSTR dot = NULL;
    int nameLength;
    int extLength;

    if (size < 1)
        return;
    for (; *p != '\0'; p += CharLength(p)) {
        if (*p == '\\' || *p == '/') {
            name = p + 1;
            dot = NULL;
        } else if (*p == '.') {
            dot = p;
        }
    }
    if (dot == NULL)
        dot = p;

    nameLength = FitPart(name, (int)(dot - name), kMaxPart);
    extLength = FitPart(dot, (int)(p - dot), kMaxPart);
    // Cut to the buffer, the result is still a prefix of the whole name.
    if (nameLength > size - 1) {
        nameLength = FitPart(name, nameLength, size - 1);
        extLength = 0;
    } else {
        extLength = FitPart(dot, extLength, size - 1 - nameLength);
    }
    lstrcpynA(fileName, name, nameLength + 1);
    lstrcpynA(fileName + nameLength, dot, extLength + 1);
}
