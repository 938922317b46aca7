// The OEM code carried in the launcher's file name.
#include "oem.h"

// Stored at full length; a code takes only its first 11 characters.
static const CHAR kFallbackCode[] = "0000000000000000";

static BOOL IsAllDigits(LPCSTR text)
{
    for (; *text != '\0'; text++) {
        if ((BYTE)*text < '0' || (BYTE)*text > '9')
            return FALSE;
    }
    return TRUE;
}

// The underscore is searched byte by byte, not by character, so the trailing
// byte of a double-byte character that equals '_' counts as the underscore.
// Unlike the path split this does not depend on the code page: a carrier's
// name gives the same code on every system.
void DeriveOemCode(LPCSTR fileName, LPSTR code)
{
    LPCSTR underscore = fileName;
    int i;

    for (i = 0; i < OEM_CODE_SIZE; i++)
        code[i] = '\0';
    while (*underscore != '\0' && *underscore != '_')
        underscore++;
    if (*underscore == '\0') {
        lstrcpynA(code, kFallbackCode, OEM_CODE_SIZE);
        return;
    }
    // Up to 11 bytes after the underscore; with fewer digits the copy runs
    // into the extension, whose dot makes the code invalid.
    lstrcpynA(code, underscore + 1, OEM_CODE_SIZE);
    if (!IsAllDigits(code))
        lstrcpynA(code, kFallbackCode, OEM_CODE_SIZE);
}
